#pragma once

namespace rszorvik::base {

// Runs cleanup(argument) when the calling thread ends, the last registered first. What a thread owns
// (a thread's match block, its interrupt flag) is released this way and not by a thread_local object's
// destructor: with mingw-w64's emulated thread-local storage such a destructor may run after the storage
// holding the object was freed.
void atThreadExit(void (*cleanup)(void*), void* argument);

}  // namespace rszorvik::base
