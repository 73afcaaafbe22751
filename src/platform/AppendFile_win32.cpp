#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/AppendFile.h"

namespace rszorvik::platform {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
}

class WindowsAppendFile final : public AppendFile {
  public:
    explicit WindowsAppendFile(const std::filesystem::path& path) : path(path) {
        // Others may read the log while it is written; deleting or renaming it is noticed by stillAtPath.
        handle = CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) fail("CreateFile");
        if (GetFileType(handle) != FILE_TYPE_DISK) {
            CloseHandle(handle);
            throw std::runtime_error("not a regular file");
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(handle, &info)) {
            const DWORD error = GetLastError();
            CloseHandle(handle);
            throw std::system_error(static_cast<int>(error), std::system_category(), "GetFileInformation");
        }
        volume = info.dwVolumeSerialNumber;
        index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    ~WindowsAppendFile() override { CloseHandle(handle); }
    WindowsAppendFile(const WindowsAppendFile&) = delete;
    WindowsAppendFile& operator=(const WindowsAppendFile&) = delete;

    std::uint64_t size() override {
        LARGE_INTEGER bytes{};
        if (!GetFileSizeEx(handle, &bytes)) fail("GetFileSizeEx");
        return static_cast<std::uint64_t>(bytes.QuadPart);
    }

    std::string tail(std::size_t bytes) override {
        const std::uint64_t total = size();
        std::string text(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, total)), '\0');
        if (text.empty()) return text;
        const std::uint64_t from = total - text.size();
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(from & 0xffffffffU);
        at.OffsetHigh = static_cast<DWORD>(from >> 32);
        DWORD got = 0;
        if (!ReadFile(handle, text.data(), static_cast<DWORD>(text.size()), &got, &at)) fail("ReadFile");
        if (got != text.size()) throw std::system_error(ERROR_HANDLE_EOF, std::system_category(), "ReadFile");
        return text;
    }

    void append(std::string_view bytes) override {
        const std::uint64_t before = size();
        // Offsets of all ones write at the end of the file, whoever else wrote there meanwhile.
        OVERLAPPED atEnd{};
        atEnd.Offset = 0xffffffffU;
        atEnd.OffsetHigh = 0xffffffffU;
        DWORD written = 0;
        const BOOL ok = WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &atEnd);
        if (ok && written == bytes.size()) return;
        const DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
        // A part of a record would spoil the line after it.
        if (written > 0) {
            try {
                truncate(before);
            } catch (const std::system_error&) {
            }
        }
        throw std::system_error(static_cast<int>(error), std::system_category(), "WriteFile");
    }

    void sync() override {
        if (!FlushFileBuffers(handle)) fail("FlushFileBuffers");
    }

    void truncate(std::uint64_t bytes) override {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes);
        if (!SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end)) fail("SetEndOfFile");
    }

    bool stillAtPath() override {
        const HANDLE named = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (named == INVALID_HANDLE_VALUE) return false;
        BY_HANDLE_FILE_INFORMATION info{};
        const BOOL known = GetFileInformationByHandle(named, &info);
        CloseHandle(named);
        return known && info.dwVolumeSerialNumber == volume &&
               ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) == index;
    }

  private:
    std::filesystem::path path;
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD volume = 0;
    std::uint64_t index = 0;
};

}  // namespace

std::unique_ptr<AppendFile> AppendFile::open(const std::filesystem::path& path) {
    return std::make_unique<WindowsAppendFile>(path);
}

}  // namespace rszorvik::platform
