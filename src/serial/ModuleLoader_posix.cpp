#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "serial/ModuleLoader.h"

namespace Zivaraze::moduleLoader {
namespace {

// The loader's message of the last failed call, or fallback. glibc keeps the message in memory of the
// calling thread until dlerror() has answered nothing once; asking until then frees it, so that a thread
// still ending when the process exits leaves nothing behind (LeakSanitizer reported it as a leak).
std::string takeLoaderError(const std::string& fallback) {
    const char* text = dlerror();
    std::string error = text != nullptr ? std::string(text) : fallback;
    while (dlerror() != nullptr) {
    }
    return error;
}

}  // namespace

std::string fileName(const std::string& baseName) {
    return "lib" + baseName + ".so";
}

std::string executableDir() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    path[n] = '\0';
    std::string text(path);
    const auto slash = text.find_last_of('/');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

void* open(const std::string& file, std::string& error) {
    takeLoaderError({});
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) error = takeLoaderError(file + ": cannot be loaded");
    return module;
}

void* symbol(void* module, const char* name) {
    void* entry = dlsym(module, name);
    if (entry == nullptr) takeLoaderError({});  // a symbol that was not found left its message
    return entry;
}

void close(void* module) {
    dlclose(module);
}

}  // namespace Zivaraze::moduleLoader
