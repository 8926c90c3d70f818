// The final of a reference pass keeps the run's target and ceiling whatever the reference: quieter,
// louder, brighter, darker, shorter than a second, at another rate; and it moves the balance toward the
// reference.
#include "batch/MasterFile.h"
#include "eq/MatchStrength.h"
#include "eq/ReferenceSpectrum.h"
#include "models/batch/BatchProcessor.h"
#include "models/eq/ReferenceTrackManager.h"
#include "support/AudioMeasures.h"
#include "support/QtWait.h"
#include "support/ReferenceLoading.h"
#include "support/Signals.h"
#include "support/TonalBalance.h"
#include "support/TestApp.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

struct Reference {
    std::string name;
    fs::path path;
};

// Reshapes a written song: `treble` adds bright noise, `smoothing` (0…1) darkens it with a one-pole low-pass.
fs::path reshaped(const std::string& name, double seconds, double levelDB, double rate, double treble, double smoothing) {
    const auto base = writeMusic(scratchPath(name + "-base.wav"), seconds, levelDB, 21, rate);
    Channels channels = readWithSndfile(base);
    const auto noise = whiteNoise(treble, channels[0].size(), 5);
    for (auto& channel : channels) {
        float state = 0.0f;
        for (size_t i = 0; i < channel.size(); ++i) {
            state = float(smoothing) * state + float(1.0 - smoothing) * channel[i];
            channel[i] = state + noise[i];
        }
    }
    const auto path = scratchPath(name + ".wav");
    writeWav(path, channels, rate);
    return path;
}

void loadAndMaster(BatchProcessor& processor, const fs::path& song, float target, float ceiling) {
    QFuture<bool> loaded = processor.loadFile(song);
    ASSERT_TRUE(finishes(loaded));
    ASSERT_TRUE(loaded.result());
    ASSERT_TRUE(finishes(processor.processCurrentFile(std::string("Normal"), false, target, ceiling)));
}

// The reference pass again on the processor's master, as the window runs it after a new reference.
void runFinalPass(BatchProcessor& processor, float target, float ceiling) {
    AudioFile file = *processor.currentFile();
    file.finalURL.reset();
    file.finalStats.reset();
    file.processingStatus = AudioFile::ProcessingStatus::pending;
    processor.setCurrentFile(file);
    ASSERT_TRUE(finishes(processor.processCurrentFile(std::string("Normal"), true, target, ceiling)));
}

} // namespace

TEST(ReferenceFinal, KeepsTheTargetAndTheCeilingUnderAnyReference) {
    const std::vector<Reference> references = {
        {"quieter", reshaped("quieter", 10, -24, 44100, 0.0, 0.0)},
        {"louder", reshaped("louder", 10, 6, 44100, 0.3, 0.0)},
        {"brighter", reshaped("brighter", 10, -3, 44100, 0.2, 0.0)},
        {"darker", reshaped("darker", 10, -3, 44100, 0.0, 0.9)},
        {"shorter than a second", reshaped("short", 0.6, -3, 44100, 0.0, 0.0)},
        {"at 22.05 kHz", reshaped("low-rate", 10, -3, 22050, 0.05, 0.0)},
        {"at 96 kHz", reshaped("high-rate", 10, -3, 96000, 0.1, 0.0)},
    };
    constexpr float target = -10.0f, ceiling = -0.2f;

    TestApp app;
    BatchProcessor& processor = app.batch;
    const fs::path song = writeMusic(scratchPath("song.wav"), 10.0, -6.0, 3);
    loadAndMaster(processor, song, target, ceiling);

    for (const Reference& reference : references) {
        ASSERT_TRUE(referenceApplied(app.reference, reference.path)) << reference.name;
        runFinalPass(processor, target, ceiling);

        const AudioFile& entry = *processor.currentFile();
        ASSERT_EQ(entry.processingStatus, AudioFile::ProcessingStatus::completed) << reference.name;
        ASSERT_TRUE(entry.finalURL && entry.finalStats) << reference.name;
        const Channels final = readWithSndfile(*entry.finalURL);
        const Ebur128Reading reading = measureWithEbur128(final, 44100);
        double peak = 0;
        for (const auto& channel : final) peak = std::max(peak, peakOf(channel));
        std::printf("%-22s final %.2f LUFS, true peak %.2f dBTP, sample peak %.4f\n", reference.name.c_str(),
                    entry.finalStats->lufs, reading.truePeakDb, peak);
        EXPECT_NEAR(entry.finalStats->lufs, target, 0.3f) << reference.name;
        EXPECT_LE(reading.truePeakDb, ceiling) << reference.name;
        EXPECT_LT(peak, 1.0) << reference.name << ": no sample at full scale";
    }
}

TEST(ReferenceFinal, SongsAtLowRatesKeepTheTargetAndTheCeiling) {
    // A bright reference asks for gains up to the 12 kHz band, which lies at or past Nyquist for
    // every song here; the fitted curve leaves bands past the rate flat.
    constexpr float target = -10.0f, ceiling = -0.2f;
    TestApp app;
    ASSERT_TRUE(referenceApplied(app.reference, reshaped("bright", 10, -3, 44100, 0.2, 0.0)));
    for (double rate : {8000.0, 11025.0, 16000.0, 22050.0}) {
        BatchProcessor processor(app.store, app.status, app.reference, app.eq, app.pool);
        const fs::path song = writeMusic(scratchPath("song.wav"), 10.0, -6.0, 3, rate);
        loadAndMaster(processor, song, target, ceiling);
        for (const char* strength : {"Gentle", "Full"}) {
            app.reference.setMatchStrength(*matchStrengthNamed(strength));
            runFinalPass(processor, target, ceiling);

            const AudioFile& entry = *processor.currentFile();
            ASSERT_EQ(entry.processingStatus, AudioFile::ProcessingStatus::completed) << rate << " " << strength;
            ASSERT_TRUE(entry.finalURL && entry.finalStats) << rate << " " << strength;
            const Channels final = readWithSndfile(*entry.finalURL);
            for (const auto& channel : final)
                for (float x : channel) ASSERT_TRUE(std::isfinite(x)) << rate << " " << strength;
            const Ebur128Reading reading = measureWithEbur128(final, rate);
            std::printf("%6.0f Hz %-6s final %.2f LUFS (libebur128 %.2f), true peak %.2f dBTP\n", rate, strength,
                        entry.finalStats->lufs, reading.integratedLufs, reading.truePeakDb);
            EXPECT_NEAR(entry.finalStats->lufs, target, 0.3f) << rate << " " << strength;
            EXPECT_NEAR(reading.integratedLufs - 0.5, target, 1.0) << rate << " " << strength;
            EXPECT_LE(reading.truePeakDb, ceiling) << rate << " " << strength;
        }
    }
}

TEST(ReferenceFinal, MovesTheBalanceTowardTheReferenceAndAnOldProfileKeepsTheClassicRule) {
    const fs::path song = writeMusic(scratchPath("plain.wav"), 12.0, -6.0, 3);
    const fs::path reference = reshaped("dark-reference", 12, -3, 44100, 0.0, 0.8);
    MasteringOptions options;
    options.input = song;
    options.targetLUFS = -10.0f;
    options.limitThreshold = -0.5f;
    const MasteredFile master = masterFile(options);

    const ReferenceAnalysis analysis = analyzeReferenceFile(reference);
    ASSERT_TRUE(analysis.profile.tonalBalance);
    options.input = master.result.outputURL;
    options.pass = MasteringPass::referenceFinal;
    options.reference = referenceMatchOf(analysis.profile, fullMatchStrength);
    const MasteredFile final = masterFile(options);
    ASSERT_TRUE(final.matchedEQ);
    const double before = broadBalanceDistanceDb(master.result.outputURL, reference);
    const double after = broadBalanceDistanceDb(final.result.outputURL, reference);
    std::printf("balance distance to the reference: master %.2f dB, final %.2f dB\n", before, after);
    EXPECT_LT(after, 0.6 * before);
    EXPECT_NEAR(ebur128IntegratedLoudness(final.result.outputURL) - 0.5, options.targetLUFS, 0.3);
    EXPECT_LE(ebur128TruePeakDb(final.result.outputURL), options.limitThreshold);

    // Without the balance (a profile stored before it was measured), Gentle is the classic rule.
    SpectralProfile old = analysis.profile;
    old.tonalBalance.reset();
    options.reference = referenceMatchOf(old, gentleMatchStrength);
    const MasteredFile classic = masterFile(options);
    ASSERT_TRUE(classic.matchedEQ && classic.inputLevels);
    EXPECT_EQ(classic.matchedEQ->bands, matchReferenceEQ(options.reference->levels, *classic.inputLevels));
}
