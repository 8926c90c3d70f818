#pragma once

#include "platform/AudioBuffer.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace orvanta {

// How a pass keeps its samples: in memory while the run may still throw the pass away, or written to
// its file as they come when the run will most likely keep it, so that no write of the whole song
// follows the run's last pass.
enum class PassKeeping { held, written };

// Where a limiting pass puts its samples. While the passes held in the process fit `memoryBudgetBytes`
// together, a held pass keeps its samples in memory, and only the pass a run keeps is written to disk
// (placeAt), once; beyond the budget, or when written, the pass writes the file `spill` names, as a
// plain pass would. Whatever was not placed is freed, and its file removed, when the object goes. One
// thread at a time per object; any number of objects on any threads.
class PassOutput {
public:
    // 256 MiB of float samples: a run's kept pass and the one it is compared with, for a stereo song
    // of 6 minutes at 44.1 kHz. Longer or wider songs stream to files, so a run's memory stays small.
    static constexpr uint64_t memoryBudgetBytes = uint64_t(256) << 20;

    PassOutput() = default;
    explicit PassOutput(std::filesystem::path spill, PassKeeping keeping = PassKeeping::held) noexcept
        : spill_(std::move(spill)), keeping_(keeping) {}
    ~PassOutput();
    PassOutput(PassOutput&& other) noexcept;
    PassOutput& operator=(PassOutput&& other) noexcept;
    PassOutput(const PassOutput&) = delete;
    PassOutput& operator=(const PassOutput&) = delete;

    bool isEmpty() const noexcept { return spill_.empty(); }
    bool isHeld() const noexcept { return held_.has_value(); }
    const std::filesystem::path& spill() const noexcept { return spill_; }

    // For the pass: room for `frames` frames of `format` in memory, or nullptr when the pass is
    // written, or they do not fit what is left of the budget or cannot be had (the pass then writes
    // spill()).
    AudioBuffer* hold(const AudioFormat& format, int64_t frames) noexcept;
    // The held samples, after the pass.
    const AudioBuffer* held() const noexcept { return held_ ? &*held_ : nullptr; }

    // Puts the pass at `result` as the 24-bit WAV the pass would have written: the held samples are
    // written to spill() and moved there, a spilled file is moved. An existing `result` is replaced.
    // Throws the platform's errors; nothing partial is left at `result`.
    void placeAt(const std::filesystem::path& result);
    // Frees the samples and removes the file, if any.
    void discard() noexcept;

private:
    void release() noexcept;

    std::filesystem::path spill_;
    PassKeeping keeping_ = PassKeeping::held;
    std::optional<AudioBuffer> held_;
    uint64_t heldBytes_ = 0; // counted against the budget
};

} // namespace orvanta
