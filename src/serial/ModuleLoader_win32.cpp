#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/Utf8.h"
#include "serial/ModuleLoader.h"

namespace Zivaraze::moduleLoader {
namespace {

std::wstring widen(const std::string& text) {
    const std::u16string units = rszorvik::base::utf8::toUtf16(text);
    return std::wstring(units.begin(), units.end());
}

std::string narrow(const std::wstring& text) {
    return rszorvik::base::utf8::fromUtf16(std::u16string(text.begin(), text.end()));
}

// The system's text for an error code, without the line break it ends with.
std::string systemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return (text.empty() ? std::string("error") : narrow(text)) + " (" + std::to_string(code) + ")";
}

}  // namespace

std::string fileName(const std::string& baseName) {
    return baseName + ".dll";
}

std::string executableDir() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            std::wstring text(path.data(), n);
            const auto separator = text.find_last_of(L"\\/");
            return separator == std::wstring::npos ? std::string() : narrow(text.substr(0, separator));
        }
        path.resize(path.size() * 2);
    }
}

bool exists(const std::string& path) {
    return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A path is loaded as it is, and the module's own imports are searched beside it; a bare name only where
// the system keeps trusted libraries (the program's folder, System32), never the current folder.
void* open(const std::string& file, std::string& error) {
    std::wstring name = widen(file);
    std::replace(name.begin(), name.end(), L'/', L'\\');
    const bool hasFolder = name.find(L'\\') != std::wstring::npos;
    HMODULE module = LoadLibraryExW(
        name.c_str(), nullptr, hasFolder ? LOAD_WITH_ALTERED_SEARCH_PATH : LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (module == nullptr) error = file + ": " + systemMessage(GetLastError());
    return module;
}

void* symbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void close(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace Zivaraze::moduleLoader
