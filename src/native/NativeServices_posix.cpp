// Host-wide services of the module: device arrival and removal, the single-instance lock and the
// power status.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "native/SerialDevice.h"
#include "native/SystemCalls.h"

namespace zsp {
namespace {

// Names under /dev that serial devices get: ttyS0, ttyUSB0, ttyACM0, ttyAMA0, rfcomm0; not the
// virtual consoles tty0..tty63.
bool isSerialNode(const char* name) {
    const std::string text = name;
    if (text.rfind("rfcomm", 0) == 0) return true;
    return text.size() > 3 && text.rfind("tty", 0) == 0 && text[3] >= 'A' && text[3] <= 'Z';
}

struct Notifier {
    int inotifyFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    ZspDeviceNotification callback = nullptr;
    void* context = nullptr;
    std::thread thread;

    ~Notifier() {
        for (int fd : {inotifyFd, wakeRead, wakeWrite})
            if (fd >= 0) sys::calls().close(fd);
    }
};

// The watching thread holds its own reference, so stopping from inside the callback is safe.
void watch(std::shared_ptr<Notifier> self) {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{self->inotifyFd, POLLIN, 0}, {self->wakeRead, POLLIN, 0}};
        if (sys::call(&sys::Calls::poll, fds, 2, -1) < 0) return;
        if (fds[1].revents != 0) return;
        const ssize_t n = sys::call(&sys::Calls::read, self->inotifyFd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EAGAIN) continue;
            return;
        }
        bool serial = false;
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            if (event->len > 0 && isSerialNode(event->name)) serial = true;
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        if (serial) self->callback(self->context);
    }
}

class Registry {
  public:
    ~Registry() {
        std::lock_guard lock(registryMutex);
        stopLocked();
    }

    std::int32_t start(ZspDeviceNotification callback, void* context, const char* devRoot) {
        std::lock_guard lock(registryMutex);
        stopLocked();
        auto notifier = std::make_shared<Notifier>();
        notifier->callback = callback;
        notifier->context = context;
        notifier->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (notifier->inotifyFd < 0) return -1;
        const std::string root = devRoot != nullptr && devRoot[0] != '\0' ? devRoot : "/dev";
        if (::inotify_add_watch(notifier->inotifyFd, root.c_str(),
                                IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0)
            return -1;
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) < 0) return -1;
        notifier->wakeRead = pipeFds[0];
        notifier->wakeWrite = pipeFds[1];
        notifier->thread = std::thread(watch, notifier);
        active = std::move(notifier);
        return 0;
    }

    std::int32_t stop() {
        std::lock_guard lock(registryMutex);
        stopLocked();
        return 0;
    }

  private:
    void stopLocked() {
        if (!active) return;
        const char wake = 1;
        sys::call(&sys::Calls::write, active->wakeWrite, &wake, 1);
        if (active->thread.get_id() == std::this_thread::get_id()) {
            active->thread.detach();  // called from the callback: the thread ends when it returns
        } else {
            active->thread.join();
        }
        active.reset();
    }

    std::mutex registryMutex;
    std::shared_ptr<Notifier> active;
};

Registry registry;

std::mutex instanceMutex;
int instanceFd = -1;

std::string instanceLockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtime != nullptr && runtime[0] == '/' ? runtime : "/tmp";
    return dir + "/zspWin-" + std::to_string(::getuid()) + ".lock";
}

}  // namespace

std::int32_t startDeviceNotification(ZspDeviceNotification callback, void* context, const char* devRoot) {
    return registry.start(callback, context, devRoot);
}

// Only one callback is registered at a time, so whichever is named, the registration ends.
std::int32_t stopDeviceNotification(ZspDeviceNotification, void*) {
    return registry.stop();
}

std::int32_t getInstanceLock() {
    std::lock_guard lock(instanceMutex);
    return instanceFd >= 0 ? 1 : 0;
}

// value != 0 takes the lock (0 taken, 1 another process holds it); 0 releases it.
std::int32_t setInstanceLock(std::int32_t value) {
    std::lock_guard lock(instanceMutex);
    if (value == 0) {
        if (instanceFd >= 0) sys::calls().close(instanceFd);
        instanceFd = -1;
        return 0;
    }
    if (instanceFd >= 0) return 0;
    const int fd = sys::call(&sys::Calls::open, instanceLockPath().c_str(),
                             O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode_t{0600});
    if (fd < 0) return -1;
    if (sys::call(&sys::Calls::flock, fd, LOCK_EX | LOCK_NB) < 0) {
        const int error = errno;
        sys::calls().close(fd);
        return error == EWOULDBLOCK ? 1 : -1;
    }
    instanceFd = fd;
    return 0;
}

// 1 on external power, 0 on battery. A machine without power-supply information counts as mains.
std::int32_t statusAPM() {
    const std::string root = "/sys/class/power_supply";
    DIR* dir = ::opendir(root.c_str());
    if (dir == nullptr) return 1;
    bool mainsOnline = false, discharging = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string base = root + "/" + entry->d_name;
        char text[64] = {0};
        auto read = [&](const char* attribute) {
            text[0] = '\0';
            if (std::FILE* file = std::fopen((base + "/" + attribute).c_str(), "re")) {
                if (std::fgets(text, sizeof text, file) == nullptr) text[0] = '\0';
                std::fclose(file);
            }
            return std::string(text);
        };
        const std::string type = read("type");
        if (type.rfind("Mains", 0) == 0 && read("online").rfind("1", 0) == 0) mainsOnline = true;
        if (type.rfind("Battery", 0) == 0 && read("status").rfind("Discharging", 0) == 0) discharging = true;
    }
    ::closedir(dir);
    return mainsOnline || !discharging ? 1 : 0;
}

// Serving a port from a thread of its own is a need of one legacy host only.
std::int32_t serveConfig(ZspConfig&) {
    return ZSP_ERR_UNSUPPORTED;
}

}  // namespace zsp
