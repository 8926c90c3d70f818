#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>

namespace orvanta::cli {

// How a child process ended.
struct ChildExit {
    pid_t pid = 0;
    int exitStatus = 0;        // its exit status, or 128 + the signal that ended it
    int signal = 0;            // the signal that ended it, 0 when it exited
    long peakResidentKb = 0;   // its largest resident set
};

// Starts a child process that runs `run` and exits with the status it returns (1 when it throws),
// with stdin on /dev/null and stdout and stderr into the files given (created or truncated, mode
// 0600). The child is a fork of this process, not a new program: it starts with everything this one
// has loaded and set up, so a run pays no start-up of its own. It begins with the default actions
// of the interrupt signals (cli/InterruptFlag.h), as a new program would, and is sent SIGTERM if this
// process dies first, so that a parent killed outright does not leave work running. This process
// must have no other thread when it calls. Throws std::system_error when the child cannot start.
// Main thread; the caller reaps the child with waitForChild.
pid_t startChild(const std::function<int()>& run, const std::filesystem::path& standardOutput,
                 const std::filesystem::path& standardError);

// Reaps one child of this process that has ended, waiting up to `patience` for one (less when a
// signal arrives). None when no child ended in that time; throws std::system_error when this
// process has no child left to wait for.
std::optional<ChildExit> waitForChild(std::chrono::milliseconds patience);

} // namespace orvanta::cli
