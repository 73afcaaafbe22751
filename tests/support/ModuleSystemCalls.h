#pragma once

// Puts a table of system calls into the native serial module the serial library loaded beside the test,
// for the life of the object, so that a fault (EINTR, EAGAIN, EIO, ...) reaches the module on a real
// device. A replacement entry calls through to host() for the real work.

#include <dlfcn.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "native/SystemCalls.h"
#include "serial/NativeLibrary.h"

namespace rszorvik::test {

class ModuleSystemCalls {
  public:
    // Starts from the module's own table; plug changes the entries it fakes.
    template <typename Plug>
    explicit ModuleSystemCalls(Plug plug) {
        const std::string path = Zivaraze::NativeLibrary::executableDir() + "/libzspWin.so";
        module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (module == nullptr) throw std::runtime_error("the module is not loaded: " + path);
        replaceCalls = reinterpret_cast<Replace>(dlsym(module, "ZspReplaceSystemCalls"));
        if (replaceCalls == nullptr) {
            dlclose(module);
            throw std::runtime_error("the module has no system-call table");
        }
        hostTable().store(replaceCalls(nullptr));
        table = host();
        plug(table);
        replaceCalls(&table);
    }
    ~ModuleSystemCalls() {
        replaceCalls(&host());
        dlclose(module);
    }
    ModuleSystemCalls(const ModuleSystemCalls&) = delete;
    ModuleSystemCalls& operator=(const ModuleSystemCalls&) = delete;

    // An entry point of the module that the serial library does not reach on this platform.
    template <typename Function>
    Function* entry(const char* name) const {
        auto* found = reinterpret_cast<Function*>(dlsym(module, name));
        if (found == nullptr) throw std::runtime_error(std::string("the module has no ") + name);
        return found;
    }

    // The module's own calls (the C library's), for the fakes to call through to.
    static const zsp::sys::Calls& host() { return *hostTable().load(); }

  private:
    using Replace = const zsp::sys::Calls* (*)(const zsp::sys::Calls*);
    static std::atomic<const zsp::sys::Calls*>& hostTable() {
        static std::atomic<const zsp::sys::Calls*> hostCalls{nullptr};
        return hostCalls;
    }

    void* module = nullptr;
    Replace replaceCalls = nullptr;
    zsp::sys::Calls table{};
};

}  // namespace rszorvik::test
