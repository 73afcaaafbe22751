#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace rszorvik::platform {

// A file that only grows at its end, for a log whose records must be whole: a record either lands
// complete or the file is cut back to where it was. Every call throws std::system_error with the
// system's reason when the file cannot be used (a full disk, a removed medium).
class AppendFile {
  public:
    virtual ~AppendFile() = default;

    // Bytes in the file now.
    virtual std::uint64_t size() = 0;
    // The file's last `bytes` bytes, or all of it when it is shorter.
    virtual std::string tail(std::size_t bytes) = 0;
    // Writes the bytes at the end, handing them to the system. On a short or failed write the file is
    // cut back to its size before the call, then the failure is thrown.
    virtual void append(std::string_view bytes) = 0;
    // Waits until what was appended is on the medium.
    virtual void sync() = 0;
    // Cuts the file back to `bytes`.
    virtual void truncate(std::uint64_t bytes) = 0;
    // Whether the path still names the file that is open (false once it was deleted or replaced).
    virtual bool stillAtPath() = 0;

    // Opens the file for appending, creating it when missing. Throws std::runtime_error for a path that
    // names something other than a regular file (a device would take the records without keeping them).
    static std::unique_ptr<AppendFile> open(const std::filesystem::path& path);
};

}  // namespace rszorvik::platform
