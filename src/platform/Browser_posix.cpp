#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/Browser.h"

extern char** environ;

namespace rszorvik::platform {

namespace {

constexpr const char* kOpener = "xdg-open";

}  // namespace

// Runs the desktop's opener and waits for its verdict: started detached, a failure would go unnoticed.
void openInBrowser(const std::string& address) {
    if (!isBrowsableAddress(address))
        throw std::invalid_argument("Only https and mailto addresses are opened");
    std::string program = kOpener;
    std::string argument = address;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (const int error = posix_spawnp(&pid, kOpener, nullptr, nullptr, argv, environ); error != 0)
        throw std::runtime_error(std::string(kOpener) + " cannot be started: " + std::strerror(error));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw std::runtime_error(std::string("waiting for ") + kOpener + ": " + std::strerror(errno));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(std::string(kOpener) + " failed with status " + std::to_string(status));
}

bool browsingSupported() {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string_view folders(path);
    while (true) {
        const std::size_t end = folders.find(':');
        const std::string_view folder = folders.substr(0, end);
        const std::string candidate =
            (folder.empty() ? std::string(".") : std::string(folder)) + "/" + kOpener;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        if (end == std::string_view::npos) return false;
        folders.remove_prefix(end + 1);
    }
}

}  // namespace rszorvik::platform
