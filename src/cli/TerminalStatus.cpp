#include "cli/TerminalStatus.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvanta::cli {

namespace {
constexpr int barWidth = 30;
}

TerminalStatus::TerminalStatus() : enabled_(isatty(STDERR_FILENO) == 1) {}

TerminalStatus::~TerminalStatus() { finish(); }

void TerminalStatus::showProgress(double fraction) {
    if (!enabled_ || !std::isfinite(fraction)) return;
    const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0);
    std::lock_guard guard(lock_);
    if (percent == shownPercent_) return;
    shownPercent_ = percent;
    drawBar();
}

void TerminalStatus::finish() {
    if (!enabled_) return;
    std::lock_guard guard(lock_);
    if (barShown_) std::fputs("\r\033[K", stderr);
    barShown_ = false;
    std::fflush(stderr);
}

void TerminalStatus::updateStage(ProcessingStage, const std::string& message, const std::string&) {
    if (!enabled_) return;
    std::lock_guard guard(lock_);
    if (message.empty() || message == lastMessage_) return;
    lastMessage_ = message;
    std::fprintf(stderr, "\r\033[K%s\n", message.c_str());
    if (shownPercent_ >= 0) drawBar();
}

void TerminalStatus::drawBar() {
    const int filled = shownPercent_ * barWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(barWidth - filled), '.');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), shownPercent_);
    std::fflush(stderr);
    barShown_ = true;
}

} // namespace orvanta::cli
