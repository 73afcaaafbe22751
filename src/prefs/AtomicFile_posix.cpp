#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <system_error>

#include "prefs/AtomicFile.h"
#include "prefs/Logger.h"

namespace rszorvik::prefs {

namespace {

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

// Unique within the process (counter) and across processes (pid, random part).
std::filesystem::path temporaryName(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    std::string name = "." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" +
                       std::to_string(counter++) + "-" + std::to_string(random() % 1000000);
    return target.parent_path() / name;
}

void writeAll(int fd, std::string_view content, const std::filesystem::path& path) {
    while (!content.empty()) {
        ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            fail(errno, "Cannot write " + path.string());
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
}

// A writer killed between creating its temporary file and the rename leaves that file behind; it is
// removed once its process is gone. The process id is part of the name.
void removeStaleTemporaries(const std::filesystem::path& target) {
    const std::string stem = "." + target.filename().string() + ".tmp";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path(), ec)) {
        std::string name = entry.path().filename().string();
        if (!name.starts_with(stem)) continue;
        std::size_t end = name.find('-', stem.size());
        if (end == std::string::npos || end == stem.size()) continue;
        long pid = 0;
        for (std::size_t i = stem.size(); i < end; ++i) {
            if (name[i] < '0' || name[i] > '9' || pid > 100000000) {
                pid = -1;
                break;
            }
            pid = pid * 10 + (name[i] - '0');
        }
        if (pid <= 0 || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) ::unlink(entry.path().c_str());
    }
}

void syncFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail(errno, "Cannot open folder " + folder.string());
    int result = ::fsync(fd);
    int error = errno;
    ::close(fd);
    // Some file systems cannot sync a folder; the rename is then as durable as they make it.
    if (result != 0 && error != EINVAL && error != ENOTSUP)
        fail(error, "Cannot sync folder " + folder.string());
}

// Only regular files are replaced; a file nobody may write was protected on purpose.
void refuseToReplace(const std::filesystem::path& file, const struct stat& old) {
    const char* kind = S_ISDIR(old.st_mode)    ? "a folder"
                       : S_ISCHR(old.st_mode)  ? "a character device"
                       : S_ISBLK(old.st_mode)  ? "a block device"
                       : S_ISFIFO(old.st_mode) ? "a FIFO"
                       : S_ISSOCK(old.st_mode) ? "a socket"
                                               : nullptr;
    if (kind != nullptr)
        fail(S_ISDIR(old.st_mode) ? EISDIR : EINVAL,
             "Cannot write " + file.string() + ": it is " + kind + ", not a regular file");
    if ((old.st_mode & 0222) == 0) fail(EACCES, "Cannot write " + file.string() + ": the file is read-only");
}

// Rewrites the file's own content: not atomic (a crash in between leaves a mixture), so it is logged.
void writeInPlace(const std::filesystem::path& file, const std::filesystem::path& target,
                  std::string_view content, int folderError) {
    const std::string folderProblem = "cannot create a file in the folder " + target.parent_path().string() +
                                      " (" + std::generic_category().message(folderError) + ")";
    int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        fail(errno, "Cannot write " + file.string() + ": " + folderProblem + ", nor open the file itself");
    }
    try {
        writeAll(fd, content, file);
        if (::ftruncate(fd, static_cast<off_t>(content.size())) != 0 || ::fsync(fd) != 0)
            fail(errno, "Cannot write " + file.string());
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0) fail(errno, "Cannot write " + file.string());
    Logger("rszorvik.prefs.AtomicFile")
        .warning("Saved " + file.string() + " in place, not atomically: " + folderProblem);
}

}  // namespace

void AtomicFile::write(const std::filesystem::path& file, std::string_view content) {
    std::filesystem::path target = file;
    std::error_code ec;
    // A link is followed, a dangling one to create its target (weakly_canonical would stop at it and the
    // rename would replace the link).
    for (int hops = 0;
         std::filesystem::symlink_status(target, ec).type() == std::filesystem::file_type::symlink; ++hops) {
        if (hops == 40) fail(ELOOP, "Cannot resolve " + file.string());
        const auto next = std::filesystem::read_symlink(target, ec);
        if (ec) fail(ec.value(), "Cannot resolve " + file.string());
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    target = std::filesystem::absolute(target, ec);
    if (ec) fail(ec.value(), "Cannot resolve " + file.string());

    struct stat old {};
    bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed) refuseToReplace(file, old);

    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary = temporaryName(target);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || (errno == EEXIST && attempt < 100)) continue;
        const int error = errno;
        // A shared file in a folder the user may not write: only the file itself can change.
        if (existed && (error == EACCES || error == EPERM)) {
            writeInPlace(file, target, content, error);
            return;
        }
        fail(error, "Cannot write " + file.string() + ": cannot create a file in the folder " +
                        target.parent_path().string());
    }
    try {
        if (existed) {
            // Keep owner and permissions; failing to is no reason to lose the save.
            (void)::fchmod(fd, old.st_mode & 07777);
            if (::geteuid() == 0) (void)::fchown(fd, old.st_uid, old.st_gid);
        }
        writeAll(fd, content, file);
        if (::fsync(fd) != 0) fail(errno, "Cannot write " + file.string());
        int result = ::close(fd);
        fd = -1;
        if (result != 0) fail(errno, "Cannot write " + file.string());
        if (::rename(temporary.c_str(), target.c_str()) != 0) fail(errno, "Cannot replace " + file.string());
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    syncFolder(target.parent_path());
    removeStaleTemporaries(target);
}

AtomicFile::Content AtomicFile::read(const std::filesystem::path& file, std::size_t maxBytes) {
    // Not blocking: a FIFO must not hang the open; it is refused below like any file that is not regular.
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) fail(errno, "Cannot read " + file.string());
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        fail(error, "Cannot read " + file.string());
    }
    Content content;
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        content.kind = S_ISDIR(st.st_mode) ? Content::Kind::Folder : Content::Kind::NotRegular;
        return content;
    }
    char buffer[16384];
    while (true) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int error = errno;
            ::close(fd);
            fail(error, "Cannot read " + file.string());
        }
        if (n == 0) break;
        content.bytes.append(buffer, static_cast<std::size_t>(n));
        if (content.bytes.size() > maxBytes) {
            ::close(fd);
            return {Content::Kind::TooLarge, {}};
        }
    }
    ::close(fd);
    return content;
}

struct AtomicFile::WriteLock::Host {
    std::filesystem::path folder;
    int fd = -1;
    std::string problem;
};

AtomicFile::WriteLock::WriteLock(const std::filesystem::path& file) : host(std::make_unique<Host>()) {
    host->folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    host->fd = ::open(host->folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

AtomicFile::WriteLock::~WriteLock() {
    if (host->fd >= 0) ::close(host->fd);  // releases the lock
}

AtomicFile::WriteLock::State AtomicFile::WriteLock::tryLock() {
    if (host->fd < 0) return State::NoFolder;
    if (::flock(host->fd, LOCK_EX | LOCK_NB) == 0) return State::Held;
    const int error = errno;
    if (error == EWOULDBLOCK || error == EINTR) return State::Busy;
    host->problem = "Cannot lock " + host->folder.string() + " (" + std::strerror(error) + ")";
    ::close(host->fd);
    host->fd = -1;
    return State::NoLocks;
}

const std::string& AtomicFile::WriteLock::problem() const {
    return host->problem;
}

}  // namespace rszorvik::prefs
