#include <atomic>

#include "native/Win32Calls.h"

namespace zsp::win32 {
namespace {

// Fixed signatures for the table: the headers declare some of these with pointer typedefs.
BOOL WINAPI clearCommErrorCall(HANDLE port, DWORD* errors, COMSTAT* status) {
    return ::ClearCommError(port, errors, status);
}
BOOL WINAPI readFileCall(HANDLE file, void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) {
    return ::ReadFile(file, buffer, count, read, overlapped);
}
BOOL WINAPI writeFileCall(HANDLE file, const void* data, DWORD count, DWORD* written,
                          OVERLAPPED* overlapped) {
    return ::WriteFile(file, data, count, written, overlapped);
}
BOOL WINAPI waitCommEventCall(HANDLE port, DWORD* mask, OVERLAPPED* overlapped) {
    return ::WaitCommEvent(port, mask, overlapped);
}
BOOL WINAPI getCommModemStatusCall(HANDLE port, DWORD* status) {
    return ::GetCommModemStatus(port, status);
}
BOOL WINAPI escapeCommFunctionCall(HANDLE port, DWORD function) {
    return ::EscapeCommFunction(port, function);
}

constexpr Calls kHost{clearCommErrorCall, readFileCall,           writeFileCall,
                      waitCommEventCall,  getCommModemStatusCall, escapeCommFunctionCall};

std::atomic<const Calls*> active{&kHost};

}  // namespace

const Calls& host() {
    return kHost;
}

const Calls& calls() {
    return *active.load(std::memory_order_acquire);
}

const Calls* replace(const Calls* table) {
    return active.exchange(table != nullptr ? table : &kHost, std::memory_order_acq_rel);
}

}  // namespace zsp::win32

const zsp::win32::Calls* ZspReplaceWin32Calls(const zsp::win32::Calls* table) {
    return zsp::win32::replace(table);
}
