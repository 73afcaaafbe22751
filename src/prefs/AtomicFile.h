#pragma once

#include <filesystem>
#include <string_view>

namespace rszorvik::prefs {

// Replaces a file's content so that a crash, a power cut or a full disk leaves either the old or the new
// content, never a mixture: the text goes to a new file in the same folder, reaches the disk, and is then
// renamed over the old one. A symbolic link is followed; the file keeps its permissions.
// Where the folder takes no new file but the file itself is writable (a file shared by all users in a
// folder only an administrator may change), the content is rewritten in place and synced instead, with a
// warning on the preferences log that the save was not atomic.
class AtomicFile {
  public:
    // Only a regular file (or a new one) is written: a device, FIFO, socket or folder, and a file without
    // any write permission, are refused. Throws std::system_error naming the file that could not be
    // written, and the folder when neither it nor the file takes the content.
    static void write(const std::filesystem::path& file, std::string_view content);
};

}  // namespace rszorvik::prefs
