#include "prefs/AtomicFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <string>
#include <system_error>

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

}  // namespace

void AtomicFile::write(const std::filesystem::path& file, std::string_view content) {
    std::filesystem::path target = file;
    std::error_code ec;
    if (std::filesystem::symlink_status(target, ec).type() == std::filesystem::file_type::symlink) {
        target = std::filesystem::weakly_canonical(target, ec);
        if (ec) fail(ec.value(), "Cannot resolve " + file.string());
    }
    target = std::filesystem::absolute(target, ec);
    if (ec) fail(ec.value(), "Cannot resolve " + file.string());

    struct stat old {};
    bool existed = ::stat(target.c_str(), &old) == 0;

    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary = temporaryName(target);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt == 100)) fail(errno, "Cannot write " + file.string());
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

}  // namespace rszorvik::prefs
