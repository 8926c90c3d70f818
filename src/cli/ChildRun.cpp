#include "cli/ChildRun.h"

#include "cli/CliOutput.h"
#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <system_error>
#include <thread>

namespace orvanta::cli {

namespace {

namespace fs = std::filesystem;

// The signals a run turns into a clean cancel (cli/InterruptFlag.h).
constexpr int interruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

int openOrThrow(const char* path, int flags) {
    const int fd = ::open(path, flags | O_CLOEXEC, 0600);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), std::string("cannot open ") + path);
    return fd;
}

} // namespace

pid_t startChild(const std::function<int()>& run, const fs::path& standardOutput, const fs::path& standardError) {
    const FileDescriptor input(openOrThrow("/dev/null", O_RDONLY));
    const FileDescriptor output(openOrThrow(standardOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC));
    const FileDescriptor errors(openOrThrow(standardError.c_str(), O_WRONLY | O_CREAT | O_TRUNC));
    const pid_t parent = ::getpid();
    // What this process has buffered would otherwise be written a second time by the child.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);

    // The interrupt signals stay blocked across fork: a signal for the parent in that instant is
    // delivered to the parent afterwards, and the child first puts the default actions back. One
    // that reaches the child before its run catches them then ends it before it has written
    // anything, instead of setting the flag it inherited from the parent.
    sigset_t interrupts, previous;
    sigemptyset(&interrupts);
    for (const int signal : interruptSignals) sigaddset(&interrupts, signal);
    ::sigprocmask(SIG_BLOCK, &interrupts, &previous);
    const pid_t pid = ::fork();
    if (pid == 0) {
        struct sigaction defaultAction = {};
        defaultAction.sa_handler = SIG_DFL;
        for (const int signal : interruptSignals) ::sigaction(signal, &defaultAction, nullptr);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(128 + SIGTERM); // the parent is already gone
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        if (::dup2(input.get(), 0) < 0 || ::dup2(output.get(), 1) < 0 || ::dup2(errors.get(), 2) < 0) ::_exit(127);
        int status = 1;
        try {
            status = run();
        } catch (const std::exception& error) {
            printError(error.what());
        } catch (...) {
            printError("the run failed");
        }
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
        // Not exit(): the parent's static objects belong to the parent; the run has already
        // released everything of its own.
        ::_exit(status);
    }
    const int forkError = errno;
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) throw std::system_error(forkError, std::generic_category(), "cannot start a job");
    return pid;
}

std::optional<ChildExit> waitForChild(std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (true) {
        int status = 0;
        rusage usage{};
        const pid_t pid = ::wait4(-1, &status, WNOHANG, &usage);
        if (pid > 0) {
            ChildExit exit;
            exit.pid = pid;
            exit.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            exit.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + exit.signal;
            exit.peakResidentKb = usage.ru_maxrss;
            return exit;
        }
        if (pid < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "lost the jobs");
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        // A short nap: a signal cuts it short, and a child's end is seen within 10 ms.
        timespec nap{0, 10'000'000};
        ::nanosleep(&nap, nullptr);
    }
}

} // namespace orvanta::cli
