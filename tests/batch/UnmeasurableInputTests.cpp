// Input without a measurable loudness (shorter than one 400 ms block, or no block above the −70 LUFS
// gate) is refused before anything is rendered: a clear error, no gain of hundreds of decibels, and
// nothing left behind.
#include "batch/AudioProcessor.h"
#include "engine/ProcessingErrors.h"
#include "platform/Error.h"
#include "support/RecordingStatusReporter.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <limits>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

size_t filesIn(const fs::path& folder) {
    if (!fs::exists(folder)) return 0;
    return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

} // namespace

TEST(UnmeasurableInput, TooShortOrSilentInputIsRefusedBeforeAnyPass) {
    const double rate = 44100;
    struct Case {
        const char* name;
        Channels channels;
        const char* expected;
    };
    const Case cases[] = {
        {"one sample", {{0.5f}, {0.5f}}, "too short to measure"},
        {"50 ms", replicate(sine(1000, 0.5, rate, size_t(rate * 0.05)), 2), "too short to measure"},
        {"digital silence", replicate(silence(size_t(rate * 2)), 2), "silent"},
    };
    for (const Case& c : cases) {
        const auto input = scratchPath("input.wav");
        writeWav(input, c.channels, rate);
        const size_t filesBefore = filesIn(appTemporaryDirectory());
        RecordingStatusReporter status;
        try {
            AudioProcessor::processAudio(input, nullptr, nullptr, false, std::nullopt, true, -8.0f, -0.3f, status.events());
            ADD_FAILURE() << c.name << ": mastered";
        } catch (const Error& error) {
            EXPECT_EQ(error.domain(), "Orvanta") << c.name;
            EXPECT_EQ(error.code(), engine_error::unmeasurable) << c.name;
            EXPECT_NE(error.description().find(c.expected), std::string::npos) << c.name << ": " << error.description();
        }
        EXPECT_EQ(filesIn(appTemporaryDirectory()), filesBefore) << c.name << ": nothing is left behind";
        for (const auto& call : status.calls()) {
            EXPECT_EQ(call.second.find("-449"), std::string::npos) << c.name << ": " << call.first;
        }
    }
}
