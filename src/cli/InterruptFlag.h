#pragma once

namespace orvanta::cli {

// Ctrl+C (SIGINT) and SIGTERM set a process-wide flag instead of ending the process, so that a
// running job can cancel cleanly and remove its partial files.
void catchInterrupts();
bool wasInterrupted() noexcept;

} // namespace orvanta::cli
