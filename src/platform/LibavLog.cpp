#include "platform/LibavLog.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace orvanta {

namespace {

thread_local std::string lastLoggedError;

extern "C" void keepLastError(void*, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_ERROR || format == nullptr) return;
    char text[512];
    va_list copy;
    va_copy(copy, arguments);
    std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    if (!message.empty()) lastLoggedError = message;
}

} // namespace

void routeLibavLogs() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_ERROR); // less severe messages are not even formatted
        av_log_set_callback(keepLastError);
    });
}

std::string libavFailureText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    std::string failure = text;
    if (!lastLoggedError.empty() && lastLoggedError != failure) failure += ": " + lastLoggedError;
    lastLoggedError.clear();
    return failure;
}

} // namespace orvanta
