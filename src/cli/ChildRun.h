#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvanta::cli {

// How a child process ended.
struct ChildExit {
    pid_t pid = 0;
    int exitStatus = 0;        // its exit status, or 128 + the signal that ended it
    int signal = 0;            // the signal that ended it, 0 when it exited
    long peakResidentKb = 0;   // its largest resident set
};

// Starts this same executable with `args` (argv[0] excluded), stdin on /dev/null, stdout and stderr
// into the files given (created or truncated, mode 0600), and `environment` as its whole
// environment ("NAME=value" entries). The child is sent SIGTERM if this process dies first, so that
// a parent killed outright does not leave work running. Throws std::system_error when it cannot
// start. Main thread; the caller reaps the child with waitForChild.
pid_t startSelf(const std::vector<std::string>& args, const std::filesystem::path& standardOutput,
                const std::filesystem::path& standardError, const std::vector<std::string>& environment);

// Reaps one child of this process that has ended, waiting up to `patience` for one (less when a
// signal arrives). None when no child ended in that time; throws std::system_error when this
// process has no child left to wait for.
std::optional<ChildExit> waitForChild(std::chrono::milliseconds patience);

// This process's environment with `name` set to `value` (or removed, for an empty value).
std::vector<std::string> environmentWith(const std::string& name, const std::string& value);

} // namespace orvanta::cli
