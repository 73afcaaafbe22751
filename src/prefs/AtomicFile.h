#pragma once

#include <filesystem>
#include <string_view>

namespace rszorvik::prefs {

// Replaces a file's content so that a crash, a power cut or a full disk leaves either the old or the new
// content, never a mixture: the text goes to a new file in the same folder, reaches the disk, and is then
// renamed over the old one. A symbolic link is followed; the file keeps its permissions.
class AtomicFile {
  public:
    // Throws std::system_error naming the file that could not be written.
    static void write(const std::filesystem::path& file, std::string_view content);
};

}  // namespace rszorvik::prefs
