#pragma once

namespace orvanta::cli {

// Ctrl+C (SIGINT), SIGTERM, SIGHUP (the terminal closed) and SIGPIPE (the reader of our output went
// away) set a process-wide flag instead of ending the process, so that a running job can cancel
// cleanly and remove its partial files. With SIGPIPE caught, a write to a closed pipe fails with
// EPIPE instead. Install once, on the main thread, before any file is written.
void catchInterrupts();
bool wasInterrupted() noexcept;
// The first signal that arrived, 0 before any.
int interruptingSignal() noexcept;
// The exit status of a run a signal ended: 128 + the signal's number, as a shell reports a process
// the signal killed (130 for Ctrl+C, 129 SIGHUP, 141 SIGPIPE, 143 SIGTERM).
int interruptedExitStatus() noexcept;

} // namespace orvanta::cli
