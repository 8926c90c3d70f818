#include "batch/AudioProcessor.h"
#include "engine/GainStaging.h"
#include "engine/LoudnessMeter.h"
#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "support/AudioMeasures.h"
#include "support/RecordingStatusReporter.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> passFilesLeft() {
    std::vector<fs::path> files;
    if (!fs::exists(appTemporaryDirectory())) return files;
    for (const auto& entry : fs::directory_iterator(appTemporaryDirectory())) {
        if (entry.path().filename().string().starts_with("temp_")) files.push_back(entry.path());
    }
    return files;
}

int countMessagesStartingWith(const RecordingStatusReporter& status, const std::string& prefix) {
    const auto messages = status.messages();
    return int(std::count_if(messages.begin(), messages.end(), [&](const std::string& m) { return m.starts_with(prefix); }));
}

float samplePeakOf(const fs::path& path) {
    double peak = 0;
    for (const auto& channel : readWithSndfile(path)) peak = std::max(peak, peakOf(channel));
    return float(peak);
}

DJMasteringResult master(const fs::path& input, float target, float ceiling, RecordingStatusReporter& status,
                         std::vector<double>* progress = nullptr, CancellationQuery cancel = nullptr) {
    ProgressCallback callback = [progress](double p) {
        if (progress) progress->push_back(p);
    };
    return AudioProcessor::processAudio(input, callback, cancel, false, std::nullopt, true, target, ceiling, status.events());
}

} // namespace

TEST(AudioProcessor, BaseNameDropsMasterAndFinalSuffixes) {
    EXPECT_EQ(AudioProcessor::baseName("/x/Song.wav"), "Song");
    EXPECT_EQ(AudioProcessor::baseName("/x/Song_master.wav"), "Song");
    EXPECT_EQ(AudioProcessor::baseName("/x/Song_final.m4a"), "Song");
    EXPECT_EQ(AudioProcessor::baseName("/x/Song_master_final.wav"), "Song");
    EXPECT_EQ(AudioProcessor::baseName("/x/Track_final_master.wav"), "Track");
}

TEST(AudioProcessor, DeltaMessagesFollowTheDistanceToTheTarget) {
    EXPECT_EQ(deltaMessage(7.0f), "Significant boost needed (+7.0 dB)");
    EXPECT_EQ(deltaMessage(6.0f), "Moderate loudness increase required");
    EXPECT_EQ(deltaMessage(3.0f), "Light touch-up for optimal levels");
    EXPECT_EQ(deltaMessage(0.0f), "Fine-tuning for professional standards");
    EXPECT_EQ(deltaMessage(-3.0f), "Fine-tuning for professional standards");
    EXPECT_EQ(deltaMessage(-3.5f), "Reducing loudness for cleaner dynamics");
}

TEST(AudioProcessor, InputNearTheTargetTakesOneTransparentPass) {
    const auto input = writeMusic(scratchPath("Near.wav"), 8, -6.0);
    const float inputLUFS = analyzeAudioFile(input).lufs;
    RecordingStatusReporter status;
    std::vector<double> progress;
    const auto result = master(input, inputLUFS + 0.2f, -0.3f, status, &progress);

    EXPECT_EQ(result.outputURL, appTemporaryDirectory() / "Near_master.wav");
    EXPECT_TRUE(status.saidMessage("Audio already at target level!"));
    EXPECT_EQ(status.itemValue("Processing"), "Minimal");
    EXPECT_EQ(status.itemValue("Limiter"), "LR4 SO/40");
    EXPECT_EQ(countMessagesStartingWith(status, "Fine-tuning pass"), 0);
    EXPECT_TRUE(passFilesLeft().empty());
    EXPECT_EQ(progress.front(), 0.0);
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_EQ(AudioFileReader(result.outputURL).lengthFrames(), AudioFileReader(input).lengthFrames());

    const auto calls = status.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().kind, "reset");
    EXPECT_EQ(calls.back().kind, "stage");
    EXPECT_EQ(calls.back().first, "Mastering complete!");
}

TEST(AudioProcessor, MusicConvergesOnEveryPresetWithinThreePasses) {
    // Songs from about −22 to −10 LUFS.
    struct Case { double levelDB; float target; float ceiling; };
    const Case cases[] = {{-6.0, -10.0f, -0.2f}, {0.0, -8.0f, -0.3f}, {4.0, -6.0f, -0.5f}, {6.0, -10.0f, -0.2f}};
    int converged = 0;
    for (const Case& c : cases) {
        const auto input = writeMusic(scratchPath("Song.wav"), 12, c.levelDB, 3);
        RecordingStatusReporter status;
        const auto result = master(input, c.target, c.ceiling, status);
        EXPECT_LE(countMessagesStartingWith(status, "Fine-tuning pass"), 2);
        EXPECT_LE(samplePeakOf(result.outputURL), 0.977f + 1e-6f);
        EXPECT_TRUE(passFilesLeft().empty());
        // The pass measures its samples as it writes them; the file holds them rounded to 24 bits.
        const float measured = analyzeAudioFile(result.outputURL).lufs;
        EXPECT_NEAR(measured, result.stats.lufs, 1e-3f);
        converged += std::fabs(measured - c.target) <= 0.3f;
    }
    EXPECT_GE(converged, 3);
}

TEST(AudioProcessor, AnUnreachableTargetAcceptsTheThirdPass) {
    const auto input = writeMusic(scratchPath("Soft.wav"), 6, -20.0, 5);
    RecordingStatusReporter status;
    const auto result = master(input, 0.0f, -12.0f, status);
    EXPECT_EQ(countMessagesStartingWith(status, "Fine-tuning pass"), 2);
    EXPECT_TRUE(fs::exists(result.outputURL));
    EXPECT_TRUE(passFilesLeft().empty());
    const auto calls = status.calls();
    ASSERT_GE(calls.size(), 2u);
    const auto& last = calls[calls.size() - 1];
    const auto& beforeLast = calls[calls.size() - 2];
    EXPECT_EQ(beforeLast.first, "Mastering complete!");
    EXPECT_NE(beforeLast.second.find("| Peak: "), std::string::npos);
    EXPECT_EQ(last.first, "Mastering complete!");
    EXPECT_EQ(last.second.rfind("Output: ", 0), 0u);
}

TEST(AudioProcessor, MasterOfAMasterKeepsTheBaseNameAndEqModeWritesFinal) {
    const auto input = writeMusic(scratchPath("Track_master.wav"), 4, -10.0);
    RecordingStatusReporter status;
    EXPECT_EQ(master(input, -9.0f, -0.3f, status).outputURL, appTemporaryDirectory() / "Track_master.wav");

    EQSettings eq = defaultEQSettings();
    eq.isEnabled = true;
    eq.bands[5].gain = 3.0f;
    const auto final = AudioProcessor::processAudio(input, nullptr, nullptr, true, eq, true, -9.0f, -0.3f, status.events());
    EXPECT_EQ(final.outputURL, appTemporaryDirectory() / "Track_final.wav");
    EXPECT_TRUE(status.saidMessage("EQ remaster complete!"));
    EXPECT_EQ(status.itemValue("EQ Applied"), "Yes");

    eq.isEnabled = false;
    RecordingStatusReporter disabled;
    const auto fallback = AudioProcessor::processAudio(input, nullptr, nullptr, true, eq, true, -9.0f, -0.3f, disabled.events());
    EXPECT_EQ(fallback.outputURL, appTemporaryDirectory() / "Track_master.wav");
    EXPECT_FALSE(disabled.saidMessage("EQ remaster complete!"));
}

TEST(AudioProcessor, CancellationStopsTheRunWithCode100) {
    const auto input = writeMusic(scratchPath("Long.wav"), 20, -20.0);
    RecordingStatusReporter status;
    try {
        master(input, -8.0f, -0.3f, status, nullptr, [] { return true; });
        FAIL();
    } catch (const Error& error) {
        EXPECT_TRUE(isCancellation(error));
        EXPECT_EQ(error.description(), "The process was canceled by the user");
    }

    std::atomic<int> asked{0};
    try {
        // Lets the run reach its first pass, then cancels before a later block.
        master(input, -8.0f, -0.3f, status, nullptr, [&] { return ++asked > 5; });
        FAIL();
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), 100);
        EXPECT_EQ(error.description(), "Audio processing failed");
        ASSERT_NE(error.underlying(), nullptr);
        EXPECT_TRUE(isCancellation(*error.underlying()));
    }
    EXPECT_FALSE(fs::exists(appTemporaryDirectory() / "Long_master.wav"));
    EXPECT_TRUE(passFilesLeft().empty()) << "a cancelled pass removes its partial file";
}

TEST(AudioProcessor, NeverWritesOverItsOwnInput) {
    fs::create_directories(appTemporaryDirectory());
    const auto input = writeMusic(appTemporaryDirectory() / "Mine_master.wav", 3, -12.0);
    const auto sizeBefore = fs::file_size(input);
    RecordingStatusReporter status;
    try {
        master(input, -8.0f, -0.3f, status);
        FAIL();
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), engine_error::inputWouldBeOverwritten);
        EXPECT_NE(error.description().find("Mine_master.wav"), std::string::npos);
    }
    EXPECT_EQ(fs::file_size(input), sizeBefore);
}

TEST(AudioProcessor, SamplesThatAreNoAudioFailTheRunBeforeAnyRender) {
    const double rate = 44100;
    auto left = sine(220, 0.3, rate, size_t(rate * 3));
    auto right = left;
    right[5000] = std::numeric_limits<float>::infinity();
    const auto input = scratchPath("Broken.wav");
    writeWav(input, {left, right}, rate);
    RecordingStatusReporter status;
    try {
        master(input, -10.0f, -0.3f, status);
        FAIL() << "mastered";
    } catch (const Error& error) {
        EXPECT_NE(error.description().find("infinite"), std::string::npos) << error.description();
    }
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
}

TEST(AudioProcessor, MissingInputFailsNamingTheFile) {
    RecordingStatusReporter status;
    try {
        master(scratchPath("nothing.wav"), -8.0f, -0.3f, status);
        FAIL();
    } catch (const Error& error) {
        EXPECT_NE(error.description().find("nothing.wav"), std::string::npos);
    }
}

TEST(AudioProcessor, SparseClicksGetNoMoreThanTwentyFourDecibelsBeyondTheFirstPass) {
    // Single full-scale samples every two seconds in silence: about −44 LUFS with 0 dBFS peaks. No gain
    // brings that to −8 LUFS; the run stops 24 dB past its first pass and says the bound held it.
    const double rate = 44100;
    std::vector<float> clicks(size_t(rate * 12), 0.0f);
    for (size_t i = size_t(rate / 2); i < clicks.size(); i += size_t(rate * 2)) clicks[i] = 1.0f;
    const auto input = scratchPath("Clicks.wav");
    writeWav(input, {clicks, clicks}, rate);
    const AudioStats in = analyzeAudioFile(input);
    ASSERT_EQ(in.measurability, Measurability::measurable);
    const double bound = 20.0 * std::log10(initialGain(in.lufs, in.peak, -8.0f)) + 24.0;

    RecordingStatusReporter status;
    const DJMasteringResult result = master(input, -8.0f, -0.3f, status);
    EXPECT_FALSE(result.targetReached);
    ASSERT_TRUE(result.gainLimitDb.has_value());
    EXPECT_NEAR(*result.gainLimitDb, bound, 0.01);
    EXPECT_LE(20.0 * std::log10(result.totalGain), bound + 0.01);
    EXPECT_GE(countMessagesStartingWith(status, "Mastering complete!"), 1);
    EXPECT_TRUE(passFilesLeft().empty());
}

// Where the clean chain falls short of a target of −8 LUFS (here under a low ceiling), the soft
// clipper takes up to 1.5 dB of the peaks and the target is reached, the ceiling still held; where the
// chain reaches it alone, the clipper stays out.
TEST(AudioProcessor, TheSoftClipperTakesUpToOneAndAHalfDecibelsWhereTheCleanChainFallsShort) {
    const auto input = writeMusic(scratchPath("Song.wav"), 12.0, 0.0, 9);
    for (const float ceiling : {-0.3f, -1.5f}) {
        SCOPED_TRACE(ceiling);
        RecordingStatusReporter status;
        const DJMasteringResult result = master(input, -8.0f, ceiling, status);
        EXPECT_TRUE(result.targetReached);
        EXPECT_NEAR(result.stats.lufs, -8.0f, 0.3f);
        EXPECT_LE(ebur128TruePeakDb(result.outputURL), ceiling);
        EXPECT_LE(result.softClipMaxDb, 1.5f + 1e-3f);
        if (ceiling == -0.3f) {
            EXPECT_EQ(result.softClipMaxDb, 0.0f) << "the clean chain reaches the target";
        } else {
            EXPECT_GT(result.softClipMaxDb, 0.5f) << "the clean chain alone ends short";
        }
    }
}

// A master made again (for a lossy export) aims at the first one's loudness. Under the same ceiling
// the first master's passes tell the gain, so it lands there at once; under a ceiling lower than the
// clean chain can keep that loudness under, the soft clipper takes part of the peaks, as it would for
// a first master short of its target.
TEST(AudioProcessor, AMasterMadeAgainKeepsTheFirstOnesLoudnessUnderALowerCeiling) {
    const auto input = writeMusic(scratchPath("Again.wav"), 12.0, 0.0, 9);
    RecordingStatusReporter status;
    const DJMasteringResult first = master(input, -8.0f, -0.3f, status);
    ASSERT_EQ(first.softClipMaxDb, 0.0f);
    ASSERT_FALSE(first.ceilingRelativePasses.empty());
    const EarlierMaster earlier{first.totalGain, first.stats.lufs, first.softClipDepthDb, first.bpm,
                                first.inputStats, 0.0f, first.ceilingRelativePasses};
    for (const float ceiling : {-0.3f, -1.5f}) {
        SCOPED_TRACE(ceiling);
        const DJMasteringResult again = AudioProcessor::processAudio(
            input, nullptr, nullptr, false, std::nullopt, false, -8.0f, ceiling, {}, WorkThreads::pipelined,
            std::nullopt, earlier);
        EXPECT_NEAR(again.stats.lufs, first.stats.lufs, 0.15f);
        EXPECT_LE(ebur128TruePeakDb(again.outputURL), ceiling);
        if (ceiling == -0.3f) {
            EXPECT_EQ(again.passes, 1);
            EXPECT_EQ(again.softClipMaxDb, 0.0f);
        } else {
            EXPECT_GT(again.softClipMaxDb, 0.5f) << "the clean chain alone ends short";
            EXPECT_LE(again.softClipMaxDb, 1.5f + 1e-3f);
        }
        fs::remove(again.outputURL);
    }
}
