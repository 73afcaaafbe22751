#include "platform/GlobalHotKey.h"

namespace rszorvik::platform {

std::unique_ptr<GlobalHotKey> GlobalHotKey::create(const base::HotKey&, std::function<void()>) {
    throw HotKeyUnavailable(HotKeyUnavailable::Reason::Unsupported, "No global hot keys on this platform");
}

}  // namespace rszorvik::platform
