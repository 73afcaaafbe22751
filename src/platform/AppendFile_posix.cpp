#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/AppendFile.h"

namespace rszorvik::platform {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

class PosixAppendFile final : public AppendFile {
  public:
    explicit PosixAppendFile(const std::filesystem::path& path) : path(path) {
        do {
            fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) fail("open");
        struct stat info {};
        const bool known = ::fstat(fd, &info) == 0;
        if (!known) {
            const int error = errno;
            ::close(fd);
            throw std::system_error(error, std::generic_category(), "fstat");
        }
        if (!S_ISREG(info.st_mode)) {
            ::close(fd);
            // A device such as /dev/null would take records without keeping them.
            throw std::runtime_error("not a regular file");
        }
    }
    ~PosixAppendFile() override { ::close(fd); }
    PosixAppendFile(const PosixAppendFile&) = delete;
    PosixAppendFile& operator=(const PosixAppendFile&) = delete;

    std::uint64_t size() override {
        struct stat info {};
        if (::fstat(fd, &info) != 0) fail("fstat");
        return static_cast<std::uint64_t>(info.st_size);
    }

    std::string tail(std::size_t bytes) override {
        const std::uint64_t total = size();
        std::string text(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, total)), '\0');
        if (text.empty()) return text;
        // The descriptor is write-only; the path is read for this, which happens only when it is opened.
        const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (reader < 0) fail("open");
        std::size_t got = 0;
        int error = 0;
        while (got < text.size()) {
            const ssize_t n = ::pread(reader, text.data() + got, text.size() - got,
                                      static_cast<off_t>(total - text.size() + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        ::close(reader);
        if (error != 0) throw std::system_error(error, std::generic_category(), "read");
        return text;
    }

    void append(std::string_view bytes) override {
        const std::uint64_t before = size();
        std::size_t written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int error = n < 0 ? errno : ENOSPC;
                // A part of a record would spoil the line after it.
                if (written > 0) static_cast<void>(::ftruncate(fd, static_cast<off_t>(before)));
                throw std::system_error(error, std::generic_category(), "write");
            }
            written += static_cast<std::size_t>(n);
        }
    }

    void sync() override {
        int result = 0;
        do {
            result = ::fdatasync(fd);
        } while (result != 0 && errno == EINTR);
        if (result != 0) fail("fdatasync");
    }

    void truncate(std::uint64_t bytes) override {
        if (::ftruncate(fd, static_cast<off_t>(bytes)) != 0) fail("ftruncate");
    }

    bool stillAtPath() override {
        struct stat open {
        }, named{};
        if (::fstat(fd, &open) != 0) fail("fstat");
        if (::stat(path.c_str(), &named) != 0) return false;
        return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
    }

  private:
    std::filesystem::path path;
    int fd = -1;
};

}  // namespace

std::unique_ptr<AppendFile> AppendFile::open(const std::filesystem::path& path) {
    return std::make_unique<PosixAppendFile>(path);
}

}  // namespace rszorvik::platform
