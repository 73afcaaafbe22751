#include <windows.h>

#include <atomic>
#include <random>
#include <string>
#include <system_error>
#include <thread>

#include "prefs/AtomicFile.h"
#include "prefs/Logger.h"

namespace rszorvik::prefs {

namespace {

[[noreturn]] void fail(DWORD error, const std::string& what) {
    throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

std::wstring widen(const std::filesystem::path& path) {
    return path.wstring();
}

// Closes a handle when the scope ends.
class Handle {
  public:
    explicit Handle(HANDLE h) : handle(h) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle; }
    bool valid() const { return handle != INVALID_HANDLE_VALUE; }
    bool close() {
        if (!valid()) return true;
        const bool closed = CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        return closed;
    }

  private:
    HANDLE handle;
};

// Unique within the process (counter) and across processes (process id, random part).
std::filesystem::path temporaryName(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    std::string name = "." + target.filename().string() + ".tmp" + std::to_string(GetCurrentProcessId()) +
                       "-" + std::to_string(counter++) + "-" + std::to_string(random() % 1000000);
    return target.parent_path() / name;
}

void writeAll(HANDLE file, std::string_view content, const std::filesystem::path& path) {
    while (!content.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1 << 20));
        if (!WriteFile(file, content.data(), chunk, &written, nullptr))
            fail(GetLastError(), "Cannot write " + path.string());
        content.remove_prefix(written);
    }
}

bool processGone(DWORD id) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

// A writer killed between creating its temporary file and the replacement leaves that file behind; it is
// removed once its process is gone. The process id is part of the name.
void removeStaleTemporaries(const std::filesystem::path& target) {
    const std::string stem = "." + target.filename().string() + ".tmp";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path(), ec)) {
        std::string name = entry.path().filename().string();
        if (!name.starts_with(stem)) continue;
        std::size_t end = name.find('-', stem.size());
        if (end == std::string::npos || end == stem.size()) continue;
        unsigned long id = 0;
        for (std::size_t i = stem.size(); i < end; ++i) {
            if (name[i] < '0' || name[i] > '9' || id > 100000000) {
                id = 0;
                break;
            }
            id = id * 10 + static_cast<unsigned long>(name[i] - '0');
        }
        if (id == 0 || id == GetCurrentProcessId()) continue;
        if (processGone(id)) DeleteFileW(widen(entry.path()).c_str());
    }
}

// Only regular files are replaced; a read-only file was protected on purpose.
void refuseToReplace(const std::filesystem::path& file, const std::filesystem::path& target,
                     DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        fail(ERROR_DIRECTORY, "Cannot write " + file.string() + ": it is a folder, not a regular file");
    if (attributes & FILE_ATTRIBUTE_READONLY)
        fail(ERROR_ACCESS_DENIED, "Cannot write " + file.string() + ": the file is read-only");
    // A device (NUL, COM1, ...) answers the attribute query too.
    Handle probe(CreateFileW(widen(target).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (probe.valid() && GetFileType(probe.get()) != FILE_TYPE_DISK)
        fail(ERROR_INVALID_FUNCTION,
             "Cannot write " + file.string() + ": it is a device, not a regular file");
}

// Rewrites the file's own content: not atomic (a crash in between leaves a mixture), so it is logged.
void writeInPlace(const std::filesystem::path& file, const std::filesystem::path& target,
                  std::string_view content, DWORD folderError) {
    const std::string folderProblem = "cannot create a file in the folder " + target.parent_path().string() +
                                      " (" + std::system_category().message(static_cast<int>(folderError)) +
                                      ")";
    Handle handle(CreateFileW(widen(target).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid())
        fail(GetLastError(),
             "Cannot write " + file.string() + ": " + folderProblem + ", nor open the file itself");
    writeAll(handle.get(), content, file);
    if (!SetEndOfFile(handle.get()) || !FlushFileBuffers(handle.get()))
        fail(GetLastError(), "Cannot write " + file.string());
    if (!handle.close()) fail(GetLastError(), "Cannot write " + file.string());
    Logger("rszorvik.prefs.AtomicFile")
        .warning("Saved " + file.string() + " in place, not atomically: " + folderProblem);
}

// A reader that keeps the old file open without sharing deletion (a virus scanner, an editor) holds the
// replacement back for a moment; it is tried again for about a second.
bool replaceWithRetries(const std::wstring& from, const std::wstring& to, DWORD& error) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        error = GetLastError();
        const bool transient =
            error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
        if (!transient || attempt == 20) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace

void AtomicFile::write(const std::filesystem::path& file, std::string_view content) {
    std::filesystem::path target = file;
    std::error_code ec;
    // A link is followed, a dangling one to create its target (the replacement would replace the link).
    for (int hops = 0;
         std::filesystem::symlink_status(target, ec).type() == std::filesystem::file_type::symlink; ++hops) {
        if (hops == 40) fail(ERROR_CANT_RESOLVE_FILENAME, "Cannot resolve " + file.string());
        const auto next = std::filesystem::read_symlink(target, ec);
        if (ec) fail(static_cast<DWORD>(ec.value()), "Cannot resolve " + file.string());
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    target = std::filesystem::absolute(target, ec);
    if (ec) fail(static_cast<DWORD>(ec.value()), "Cannot resolve " + file.string());

    const std::wstring targetName = widen(target);
    const DWORD attributes = GetFileAttributesW(targetName.c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (existed) refuseToReplace(file, target, attributes);

    std::filesystem::path temporary;
    std::wstring temporaryName;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; created == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = prefs::temporaryName(target);
        temporaryName = widen(temporary);
        created = CreateFileW(temporaryName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) break;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS && attempt < 100) continue;
        // A shared file in a folder the user may not write: only the file itself can change.
        if (existed && error == ERROR_ACCESS_DENIED) {
            writeInPlace(file, target, content, error);
            return;
        }
        fail(error, "Cannot write " + file.string() + ": cannot create a file in the folder " +
                        target.parent_path().string());
    }
    Handle handle(created);
    try {
        writeAll(handle.get(), content, file);
        if (!FlushFileBuffers(handle.get())) fail(GetLastError(), "Cannot write " + file.string());
        if (!handle.close()) fail(GetLastError(), "Cannot write " + file.string());
        DWORD error = ERROR_SUCCESS;
        if (!replaceWithRetries(temporaryName, targetName, error))
            fail(error, "Cannot replace " + file.string());
    } catch (...) {
        handle.close();
        DeleteFileW(temporaryName.c_str());
        throw;
    }
    removeStaleTemporaries(target);
}

AtomicFile::Content AtomicFile::read(const std::filesystem::path& file, std::size_t maxBytes) {
    // Shared for deletion too, so a save of another process can replace the file while it is read.
    Handle handle(CreateFileW(widen(file).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) fail(GetLastError(), "Cannot read " + file.string());
    Content content;
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileType(handle.get()) != FILE_TYPE_DISK) {
        content.kind = Content::Kind::NotRegular;
        return content;
    }
    if (!GetFileInformationByHandle(handle.get(), &information))
        fail(GetLastError(), "Cannot read " + file.string());
    if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        content.kind = Content::Kind::Folder;
        return content;
    }
    char buffer[16384];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(handle.get(), buffer, sizeof buffer, &n, nullptr))
            fail(GetLastError(), "Cannot read " + file.string());
        if (n == 0) break;
        content.bytes.append(buffer, n);
        if (content.bytes.size() > maxBytes) return {Content::Kind::TooLarge, {}};
    }
    return content;
}

struct AtomicFile::WriteLock::Host {
    std::filesystem::path lockFile;
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool held = false;
    std::string problem;
};

// Read access is enough to lock: another user of the computer, who may read but not change the lock file
// the first one made in a shared folder, takes turns as well.
AtomicFile::WriteLock::WriteLock(const std::filesystem::path& file) : host(std::make_unique<Host>()) {
    const std::filesystem::path folder =
        file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    host->lockFile = folder / ("." + file.filename().string() + ".lock");
    host->handle = CreateFileW(widen(host->lockFile).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_HIDDEN, nullptr);
}

AtomicFile::WriteLock::~WriteLock() {
    if (host->handle == INVALID_HANDLE_VALUE) return;
    // Unlocked at once: a lock left to the handle's closing may be released only later.
    if (host->held) {
        OVERLAPPED range{};
        UnlockFileEx(host->handle, 0, 1, 0, &range);
    }
    CloseHandle(host->handle);
}

AtomicFile::WriteLock::State AtomicFile::WriteLock::tryLock() {
    if (host->handle == INVALID_HANDLE_VALUE) return State::NoFolder;
    OVERLAPPED range{};
    if (LockFileEx(host->handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        host->held = true;
        return State::Held;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return State::Busy;
    host->problem = "Cannot lock " + host->lockFile.string() + " (" +
                    std::system_category().message(static_cast<int>(error)) + ")";
    CloseHandle(host->handle);
    host->handle = INVALID_HANDLE_VALUE;
    return State::NoLocks;
}

const std::string& AtomicFile::WriteLock::problem() const {
    return host->problem;
}

}  // namespace rszorvik::prefs
