#include <utility>
#include <vector>

#include "base/ThreadExit.h"

namespace rszorvik::base {
namespace {

struct Cleanups {
    std::vector<std::pair<void (*)(void*), void*>> list;
    ~Cleanups() {
        for (auto it = list.rbegin(); it != list.rend(); ++it)
            it->first(it->second);
    }
};

}  // namespace

void atThreadExit(void (*cleanup)(void*), void* argument) {
    thread_local Cleanups cleanups;
    cleanups.list.emplace_back(cleanup, argument);
}

}  // namespace rszorvik::base
