#pragma once

#include <string>

// Opening a shared library and finding its entry points, for the native serial module: one implementation
// per OS (ModuleLoader_posix.cpp, ModuleLoader_win32.cpp).
namespace Zivaraze::moduleLoader {

// The file of a module with this base name: "libzspWin.so" on Linux, "zspWin.dll" on Windows.
std::string fileName(const std::string& baseName);
// The folder of the running executable, without a trailing separator; empty when unknown.
std::string executableDir();
bool exists(const std::string& path);
// The module, or nullptr with error set to the system's reason (naming the file). A file name without a
// folder is looked for where the system looks for libraries.
void* open(const std::string& file, std::string& error);
void* symbol(void* module, const char* name);
void close(void* module);

}  // namespace Zivaraze::moduleLoader
