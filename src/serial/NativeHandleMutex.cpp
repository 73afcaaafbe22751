#include "serial/NativeHandleMutex.h"

namespace Zivaraze {

NativeHandleMutex& NativeHandleMutex::getInstance() {
    static NativeHandleMutex instance;  // created once, on first use, by whichever thread comes first
    return instance;
}

}  // namespace Zivaraze
