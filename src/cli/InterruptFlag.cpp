#include "cli/InterruptFlag.h"

#include <atomic>
#include <csignal>

namespace orvanta::cli {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

extern "C" void onInterrupt(int) { interrupted.store(true); }

} // namespace

void catchInterrupts() {
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool wasInterrupted() noexcept { return interrupted.load(); }

} // namespace orvanta::cli
