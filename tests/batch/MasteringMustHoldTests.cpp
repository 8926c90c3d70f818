// Generated songs from −25 to −6 LUFS mastered to each preset: the output reaches the target within
// 0.3 LU in at most three passes in nearly every case, and its sample peak never exceeds 0.977.
#include "batch/AudioProcessor.h"
#include "engine/LoudnessMeter.h"
#include "support/RecordingStatusReporter.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

struct Preset { const char* name; float target; float ceiling; };

constexpr double songSeconds = 10;
constexpr float inputLevels[] = {-25.0f, -18.0f, -12.0f, -6.0f};

// A song whose measured loudness is close to `lufs`.
fs::path songAt(float lufs, uint32_t seed) {
    const auto probe = writeMusic(scratchPath("probe.wav"), songSeconds, 0.0, seed);
    const float atZero = analyzeAudioFile(probe).lufs;
    return writeMusic(scratchPath("song" + std::to_string(int(-lufs)) + ".wav"), songSeconds, lufs - atZero, seed);
}

void masterEveryLevel(const Preset& preset) {
    int converged = 0;
    uint32_t seed = 1;
    for (float level : inputLevels) {
        const auto input = songAt(level, seed++);
        const float inputLUFS = analyzeAudioFile(input).lufs;
        RecordingStatusReporter status;
        const auto result = AudioProcessor::processAudio(input, nullptr, nullptr, false, std::nullopt, true,
                                                         preset.target, preset.ceiling, status.events());
        double peak = 0;
        for (const auto& channel : readWithSndfile(result.outputURL)) peak = std::max(peak, peakOf(channel));
        const float error = std::fabs(result.stats.lufs - preset.target);
        std::printf("%s: input %.2f LUFS -> %.2f LUFS, peak %.4f, %d pass(es)\n", preset.name, inputLUFS,
                    result.stats.lufs, peak, result.passes);
        EXPECT_LE(result.passes, 3);
        EXPECT_LE(peak, 0.977 + 1.0 / 8388608.0) << preset.name << " from " << inputLUFS;
        EXPECT_LT(error, 1.5f) << preset.name << " from " << inputLUFS;
        converged += error <= 0.3f;
        fs::remove(result.outputURL);
    }
    EXPECT_GE(converged, 3) << preset.name;
}

} // namespace

TEST(MasteringMustHold, NormalPreset) { masterEveryLevel({"Normal", -10.0f, -0.2f}); }
TEST(MasteringMustHold, LoudPreset) { masterEveryLevel({"Loud", -8.0f, -0.3f}); }
TEST(MasteringMustHold, ExtraLoudPreset) { masterEveryLevel({"Extra Loud", -6.0f, -0.5f}); }
