#pragma once

#include <string>

namespace orvanta {

// FFmpeg's libraries log to stderr on their own ("Too many channels: 65535", "Failed to read frame
// size ..."). Once this is called, nothing of theirs reaches stderr: the last error-level message of
// each thread is kept instead, for the error that thread raises. Call before any FFmpeg call; any
// thread, idempotent.
void routeLibavLogs();

// FFmpeg's text for `code` ("Invalid argument"), followed by the message FFmpeg logged on this thread
// since the last call, when there is one: "Invalid argument: Too many channels: 65535". Clears the
// kept message.
std::string libavFailureText(int code);

} // namespace orvanta
