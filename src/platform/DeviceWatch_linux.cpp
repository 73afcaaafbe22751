// The wait for a serial device on Linux. inotify tells when the port's path changes: a link or node that
// appears again (also a pseudo-terminal behind a link, which no device event announces) or gets its
// permissions from udev. With anyDevice, the kernel's device events (a netlink socket, no udev needed)
// and the changes in /dev tell when any serial device arrives, for an adapter that comes back under
// another name. USB identities are read from sysfs.
#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <string_view>
#include <system_error>

#include "platform/DeviceWatch.h"

namespace rszorvik::platform {

namespace fs = std::filesystem;

namespace {

// Names that serial device nodes get in /dev: ttyS0, ttyUSB0, ttyACM0, ttyAMA0, rfcomm0 (not the
// virtual consoles tty0..tty63).
bool isSerialNodeName(std::string_view name) {
    if (name.starts_with("rfcomm")) return true;
    return name.size() > 3 && name.starts_with("tty") && name[3] >= 'A' && name[3] <= 'Z';
}

constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE | IN_MOVED_FROM |
                                        IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

class LinuxDeviceWatch final : public DeviceWatch {
  public:
    LinuxDeviceWatch(const std::string& portPath, bool anyDevice) : anyDevice(anyDevice) {
        std::error_code error;
        target = fs::absolute(portPath, error).lexically_normal();
        wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (anyDevice) openUevents();
        arm();
    }

    ~LinuxDeviceWatch() override {
        for (int fd : {wakeFd, inotifyFd, ueventFd})
            if (fd >= 0) ::close(fd);
    }

    LinuxDeviceWatch(const LinuxDeviceWatch&) = delete;
    LinuxDeviceWatch& operator=(const LinuxDeviceWatch&) = delete;

    Event wait(std::chrono::milliseconds timeout) override {
        // A folder on the way that appeared since the last wait is watched from now on; what happened in
        // it before is only seen by looking again.
        if (arm()) return Event::Changed;
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            int waitMs = -1;
            if (timeout.count() >= 0) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
                waitMs = static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
            }
            std::array<pollfd, 3> fds{{{wakeFd, POLLIN, 0}, {inotifyFd, POLLIN, 0}, {ueventFd, POLLIN, 0}}};
            const int ready = ::poll(fds.data(), fds.size(), waitMs);
            if (ready < 0) {
                if (errno == EINTR) continue;
                throw std::system_error(errno, std::generic_category(), "poll");
            }
            if (fds[0].revents != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] const auto taken = ::read(wakeFd, &count, sizeof count);
                return Event::Woken;
            }
            bool changed = false;
            if (fds[1].revents != 0) changed = folderEvents();
            if (fds[2].revents != 0) changed = deviceEvents() || changed;
            if (changed) return Event::Changed;
            if (ready == 0) return Event::Timeout;
        }
    }

    void wake() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
    }

    bool notifies() const override { return pathWatched; }

  private:
    // Watches the nearest existing folder on the way to the port, to its link's target and, with anyDevice,
    // /dev. True when a folder is watched that was not before.
    bool arm() {
        if (inotifyFd < 0) return false;
        bool added = false;
        pathWatched = watchTowards(target, added);
        std::error_code error;
        if (fs::is_symlink(target, error)) {
            // A link whose target is missing comes alive when the target appears.
            const fs::path linked = fs::read_symlink(target, error);
            if (!error) watchTowards((target.parent_path() / linked).lexically_normal(), added);
        }
        if (anyDevice) {
            const int wd = ::inotify_add_watch(inotifyFd, "/dev", kFolderEvents);
            if (wd >= 0 && !deviceFolders.contains(wd)) {
                deviceFolders.insert(wd);
                added = true;
            }
        }
        return added;
    }

    bool watchTowards(const fs::path& path, bool& added) {
        fs::path folder = path.parent_path();
        fs::path next = path.filename();
        std::error_code error;
        while (!folder.empty() && !fs::is_directory(folder, error)) {
            next = folder.filename();
            if (folder == folder.root_path()) break;
            folder = folder.parent_path();
        }
        const int wd = ::inotify_add_watch(inotifyFd, folder.c_str(), kFolderEvents);
        if (wd < 0) return false;
        added = names[wd].insert(next.string()).second || added;
        return true;
    }

    // Reads what inotify has; true when it concerns the port.
    bool folderEvents() {
        alignas(inotify_event) char buffer[4096];
        bool relevant = false;
        for (;;) {
            const ssize_t n = ::read(inotifyFd, buffer, sizeof buffer);
            if (n <= 0) break;
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                const std::string_view name =
                    event->len > 0 ? std::string_view(event->name) : std::string_view();
                if ((event->mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0) {
                    // Lost events, or a watched folder went: whatever it was, look again.
                    if ((event->mask & IN_IGNORED) != 0) forget(event->wd);
                    relevant = true;
                    continue;
                }
                const auto watched = names.find(event->wd);
                if (watched != names.end() && watched->second.contains(std::string(name))) relevant = true;
                if (deviceFolders.contains(event->wd) && isSerialNodeName(name)) relevant = true;
            }
        }
        return relevant;
    }

    void forget(int wd) {
        names.erase(wd);
        deviceFolders.erase(wd);
    }

    void openUevents() {
        ueventFd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
        if (ueventFd < 0) return;
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = 1;  // the kernel's own events
        if (::bind(ueventFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(ueventFd);
            ueventFd = -1;
        }
    }

    // Reads the kernel's device events; true when a tty device was added or changed.
    bool deviceEvents() {
        std::array<char, 8192> buffer;
        bool relevant = false;
        for (;;) {
            sockaddr_nl sender{};
            socklen_t length = sizeof sender;
            const ssize_t n = ::recvfrom(ueventFd, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&sender), &length);
            if (n <= 0) break;
            if (sender.nl_pid != 0) continue;  // only the kernel speaks here
            // "ACTION@DEVPATH", then KEY=VALUE entries, each ended by a NUL.
            bool tty = false, arrived = false;
            for (std::string_view rest(buffer.data(), static_cast<std::size_t>(n)); !rest.empty();) {
                const std::size_t end = rest.find('\0');
                const std::string_view entry = rest.substr(0, end);
                if (entry == "SUBSYSTEM=tty") tty = true;
                if (entry == "ACTION=add" || entry == "ACTION=change") arrived = true;
                if (end == std::string_view::npos) break;
                rest.remove_prefix(end + 1);
            }
            relevant = relevant || (tty && arrived);
        }
        return relevant;
    }

    fs::path target;
    bool anyDevice;
    int wakeFd = -1;
    int inotifyFd = -1;
    int ueventFd = -1;
    bool pathWatched = false;
    std::map<int, std::set<std::string>> names;  // per watched folder: the entries on the way to the port
    std::set<int> deviceFolders;                 // /dev, where any serial node counts
};

std::string attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// The identity of the tty of that name in sysfs: up from its device to the USB device, picking up the
// interface on the way.
std::optional<UsbIdentity> identityOfTty(const std::string& name, const DeviceRoots& roots) {
    std::error_code error;
    const fs::path device = fs::canonical(roots.sys / "class" / "tty" / name / "device", error);
    if (error) return std::nullopt;
    const fs::path top = fs::canonical(roots.sys, error);
    if (error) return std::nullopt;
    UsbIdentity identity;
    for (fs::path at = device; at != top && at.has_relative_path(); at = at.parent_path()) {
        if (identity.interfaceNumber.empty() && fs::exists(at / "bInterfaceNumber", error))
            identity.interfaceNumber = attribute(at / "bInterfaceNumber");
        if (fs::exists(at / "idVendor", error) && fs::exists(at / "idProduct", error)) {
            identity.vendorId = attribute(at / "idVendor");
            identity.productId = attribute(at / "idProduct");
            identity.serial = attribute(at / "serial");
            identity.location = at.filename().string();
            return identity;
        }
    }
    return std::nullopt;
}

}  // namespace

std::unique_ptr<DeviceWatch> DeviceWatch::create(const std::string& portPath, bool anyDevice) {
    return std::make_unique<LinuxDeviceWatch>(portPath, anyDevice);
}

std::optional<UsbIdentity> DeviceWatch::usbIdentityOf(const std::string& portPath, const DeviceRoots& roots) {
    std::error_code error;
    const fs::path node = fs::canonical(portPath, error);
    if (error) return std::nullopt;
    return identityOfTty(node.filename().string(), roots);
}

std::vector<std::string> DeviceWatch::portsOf(const UsbIdentity& identity, const DeviceRoots& roots) {
    std::vector<std::string> ports;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(roots.sys / "class" / "tty", error)) {
        const std::string name = entry.path().filename().string();
        const auto found = identityOfTty(name, roots);
        if (found && found->matches(identity) && fs::exists(roots.dev / name, error))
            ports.push_back((roots.dev / name).string());
    }
    std::ranges::sort(ports);
    return ports;
}

}  // namespace rszorvik::platform
