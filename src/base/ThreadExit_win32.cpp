// Fiber-local storage: Windows calls the slot's callback with the thread's value when the thread ends,
// whatever library started it.
#include <windows.h>

#include <utility>
#include <vector>

#include "base/ThreadExit.h"

namespace rszorvik::base {
namespace {

using Cleanups = std::vector<std::pair<void (*)(void*), void*>>;

void NTAPI runCleanups(void* data) {
    auto* cleanups = static_cast<Cleanups*>(data);
    if (cleanups == nullptr) return;
    for (auto it = cleanups->rbegin(); it != cleanups->rend(); ++it)
        it->first(it->second);
    delete cleanups;
}

DWORD slot() {
    static const DWORD index = FlsAlloc(runCleanups);
    return index;
}

}  // namespace

void atThreadExit(void (*cleanup)(void*), void* argument) {
    auto* cleanups = static_cast<Cleanups*>(FlsGetValue(slot()));
    if (cleanups == nullptr) {
        cleanups = new Cleanups;
        FlsSetValue(slot(), cleanups);
    }
    cleanups->emplace_back(cleanup, argument);
}

}  // namespace rszorvik::base
