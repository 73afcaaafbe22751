#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "serial/ModuleLoader.h"

namespace Zivaraze::moduleLoader {

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
    dlerror();
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* text = dlerror();
        error = text != nullptr ? std::string(text) : file + ": cannot be loaded";
    }
    return module;
}

void* symbol(void* module, const char* name) {
    return dlsym(module, name);
}

void close(void* module) {
    dlclose(module);
}

}  // namespace Zivaraze::moduleLoader
