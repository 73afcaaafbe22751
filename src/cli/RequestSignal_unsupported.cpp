// Systems without SIGUSR1: no signal asks for a reading; the timer and the hot key still do.
#include "cli/RequestSignal.h"

namespace rszorvik::cli {

struct RequestSignal::Impl {};

RequestSignal::RequestSignal(std::function<void()>) : impl(std::make_unique<Impl>()) {}

RequestSignal::~RequestSignal() = default;

}  // namespace rszorvik::cli
