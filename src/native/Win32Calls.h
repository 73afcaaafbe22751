#pragma once

// The Win32 calls through which the Windows module reads a port's state and moves its bytes go through one
// table, so a test can put a fault into them on a real port: line errors (which a pseudo-terminal under
// Wine never has) and the failures of a device that was pulled out.

#include <windows.h>

#include "native/zspWin.h"

namespace zsp::win32 {

struct Calls {
    BOOL(WINAPI* clearCommError)(HANDLE port, DWORD* errors, COMSTAT* status);
    BOOL(WINAPI* readFile)(HANDLE file, void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped);
    BOOL(WINAPI* writeFile)
    (HANDLE file, const void* data, DWORD count, DWORD* written, OVERLAPPED* overlapped);
    BOOL(WINAPI* waitCommEvent)(HANDLE port, DWORD* mask, OVERLAPPED* overlapped);
    BOOL(WINAPI* getCommModemStatus)(HANDLE port, DWORD* status);
    BOOL(WINAPI* escapeCommFunction)(HANDLE port, DWORD function);
};

// The system's calls.
const Calls& host();
// The table in use.
const Calls& calls();
// Puts a table in place (nullptr: the system's) and answers the previous one. The table must outlive its
// use; swap it only while no call of the module is running.
const Calls* replace(const Calls* table);

}  // namespace zsp::win32

extern "C" {
// The seam as the module exports it, for tests that load the module: win32::replace.
ZSP_EXPORT const zsp::win32::Calls* ZspReplaceWin32Calls(const zsp::win32::Calls* table);
}
