#pragma once

#include <string>
#include <vector>

#include "native/zspWin.h"

namespace Zivaraze {

// The native serial module, loaded at run time by base name, and the table of entry points the
// port layer calls through. Tests put a scripted table in place of the loaded one.
class NativeLibrary {
  public:
    // "libzspWin.so" for "zspWin" ("zspWin.dll" on Windows).
    static std::string fileNameFor(const std::string& baseName);
    // The folder of the running executable, without a trailing slash.
    static std::string executableDir();

    // The module files load() tries before the loader's own search, in order: beside the executable
    // (the build tree, an unpacked copy), then lib/zorvik/ next to the executable's folder (an installed
    // program: /usr/bin/zorvik finds /usr/lib/zorvik/). Empty when the executable's folder is unknown.
    static std::vector<std::string> candidateFiles(const std::string& baseName, const std::string& exeDir);

    // Loads the first candidate file that exists, else the bare file name through the loader's search
    // path (LD_LIBRARY_PATH and the system's library folders; on Windows the program's folder and
    // System32). Answers the empty text on success, otherwise the error of the first candidate that
    // existed, or the loader's.
    static std::string load(const std::string& baseName);
    // Loads the module from exactly this file.
    static std::string loadFile(const std::string& path);
    static bool isLoaded();

    // The table in use: an installed one, else the loaded module's. Throws NativeLibraryError naming
    // the operation when there is neither.
    static const ZspApi& api(const char* operation);
    static const ZspApi* current();

    // Puts a table in place of the loaded module (nullptr: back to the module); answers the previous one.
    static const ZspApi* install(const ZspApi* table);
};

// Installs a table for the life of the object.
class ScopedNativeApi {
  public:
    explicit ScopedNativeApi(const ZspApi& table) : previous(NativeLibrary::install(&table)) {}
    ~ScopedNativeApi() { NativeLibrary::install(previous); }
    ScopedNativeApi(const ScopedNativeApi&) = delete;
    ScopedNativeApi& operator=(const ScopedNativeApi&) = delete;

  private:
    const ZspApi* previous;
};

}  // namespace Zivaraze
