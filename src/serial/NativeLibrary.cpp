#include "serial/NativeLibrary.h"

#include <atomic>
#include <map>
#include <mutex>

#include "serial/IOError.h"
#include "serial/ModuleLoader.h"

namespace Zivaraze {
namespace {

std::mutex loadMutex;
// Tables of every module file opened so far; modules stay loaded for the life of the process, so
// their entry points stay valid while another thread may still be calling one.
std::map<std::string, ZspApi>& tables() {
    static std::map<std::string, ZspApi> opened;
    return opened;
}
std::atomic<const ZspApi*> active{nullptr};
std::atomic<const ZspApi*> installed{nullptr};

// Opens the file and binds every entry point; a module that lacks one is refused whole.
std::string bind(const std::string& file) {
    if (auto it = tables().find(file); it != tables().end()) {
        active.store(&it->second);
        return {};
    }
    std::string error;
    void* handle = moduleLoader::open(file, error);
    if (handle == nullptr) return error;
    ZspApi table{};
    std::string missing;
#define ZSP_BIND(result, name, params)                                                    \
    table.name = reinterpret_cast<result(*) params>(moduleLoader::symbol(handle, #name)); \
    if (table.name == nullptr && missing.empty()) missing = file + ": undefined symbol: " #name;
    ZSP_FUNCTIONS(ZSP_BIND)
#undef ZSP_BIND
    if (!missing.empty()) {
        moduleLoader::close(handle);
        return missing;
    }
    active.store(&tables().emplace(file, table).first->second);
    return {};
}

}  // namespace

std::string NativeLibrary::fileNameFor(const std::string& baseName) {
    return moduleLoader::fileName(baseName);
}

std::string NativeLibrary::executableDir() {
    return moduleLoader::executableDir();
}

std::vector<std::string> NativeLibrary::candidateFiles(const std::string& baseName,
                                                       const std::string& exeDir) {
    if (exeDir.empty()) return {};
    const std::string file = fileNameFor(baseName);
    return {exeDir + "/" + file, exeDir + "/../lib/zorvik/" + file};
}

std::string NativeLibrary::load(const std::string& baseName) {
    std::lock_guard lock(loadMutex);
    std::string firstError;
    for (const auto& candidate : candidateFiles(baseName, executableDir())) {
        if (!moduleLoader::exists(candidate)) continue;
        auto error = bind(candidate);
        if (error.empty()) return {};
        if (firstError.empty()) firstError = std::move(error);
    }
    auto searched = bind(fileNameFor(baseName));
    if (searched.empty()) return {};
    active.store(nullptr);
    return firstError.empty() ? searched : firstError;
}

std::string NativeLibrary::loadFile(const std::string& path) {
    std::lock_guard lock(loadMutex);
    auto error = bind(path);
    if (!error.empty()) active.store(nullptr);
    return error;
}

bool NativeLibrary::isLoaded() {
    return active.load() != nullptr;
}

const ZspApi* NativeLibrary::current() {
    if (const ZspApi* table = installed.load()) return table;
    return active.load();
}

const ZspApi& NativeLibrary::api(const char* operation) {
    if (const ZspApi* table = current()) return *table;
    throw NativeLibraryError(std::string("Native serial library not loaded: ") + operation);
}

const ZspApi* NativeLibrary::install(const ZspApi* table) {
    return installed.exchange(table);
}

}  // namespace Zivaraze
