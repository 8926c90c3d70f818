#include "cli/InterruptFlag.h"

#include <atomic>
#include <csignal>

namespace orvanta::cli {

namespace {

std::atomic<int> firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the flag is set from a signal handler");

extern "C" void onInterrupt(int signal) {
    int none = 0;
    firstSignal.compare_exchange_strong(none, signal);
}

} // namespace

void catchInterrupts() {
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a write blocked on a slow pipe returns EINTR, so the copy sees the cancel.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(signal, &action, nullptr);
}

bool wasInterrupted() noexcept { return firstSignal.load() != 0; }

int interruptingSignal() noexcept { return firstSignal.load(); }

int interruptedExitStatus() noexcept { return 128 + (wasInterrupted() ? firstSignal.load() : SIGINT); }

} // namespace orvanta::cli
