#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace rszorvik::prefs {

// Replaces a file's content so that a crash, a power cut or a full disk leaves either the old or the new
// content, never a mixture: the text goes to a new file in the same folder, reaches the disk, and is then
// renamed over the old one (on Windows MoveFileEx with write-through). A symbolic link is followed; on
// POSIX the file keeps its permissions, on Windows it takes those its folder gives new files.
// Where the folder takes no new file but the file itself is writable (a file shared by all users in a
// folder only an administrator may change), the content is rewritten in place and synced instead, with a
// warning on the preferences log that the save was not atomic.
class AtomicFile {
  public:
    // Only a regular file (or a new one) is written: a device, FIFO, socket or folder, and a file without
    // any write permission, are refused. Throws std::system_error naming the file that could not be
    // written, and the folder when neither it nor the file takes the content.
    static void write(const std::filesystem::path& file, std::string_view content);

    struct Content {
        enum class Kind { Read, TooLarge, Folder, NotRegular } kind = Kind::Read;
        std::string bytes;  // what was read (Kind::Read)
    };
    // The whole content of a regular file of at most maxBytes; what the path is instead (a FIFO does not
    // hang the call). Throws std::system_error when the system cannot open or read it.
    static Content read(const std::filesystem::path& file, std::size_t maxBytes);

    // An exclusive lock among programs on rewriting a file (read, change, write); every writer of the file
    // takes it. Released when destroyed, or by the system when the process ends. On POSIX flock on the
    // file's folder, since a write replaces the file itself; on Windows, where a folder cannot be locked,
    // LockFileEx on a hidden lock file beside it (".NAME.lock").
    class WriteLock {
      public:
        enum class State {
            Held,
            Busy,      // another program holds it
            NoFolder,  // nothing to lock: the folder does not exist or may not be read
            NoLocks,   // the file system keeps no locks (problem() says so)
        };
        explicit WriteLock(const std::filesystem::path& file);
        ~WriteLock();
        WriteLock(const WriteLock&) = delete;
        WriteLock& operator=(const WriteLock&) = delete;

        // One attempt, without waiting.
        State tryLock();
        const std::string& problem() const;

      private:
        struct Host;
        std::unique_ptr<Host> host;
    };
};

}  // namespace rszorvik::prefs
