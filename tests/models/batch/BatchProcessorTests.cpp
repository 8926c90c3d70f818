#include "engine/LoudnessMeter.h"
#include "engine/TruePeakDetector.h"
#include "eq/MatchStrength.h"
#include "eq/ReferenceMatching.h"
#include "models/batch/BatchProcessor.h"
#include "models/eq/EQManager.h"
#include "models/eq/ReferenceTrackManager.h"
#include "platform/AudioFileReader.h"
#include "platform/PreferenceStore.h"
#include "platform/TemporaryDirectory.h"
#include "support/QtWait.h"
#include "support/ReferenceLoading.h"
#include "support/Signals.h"
#include "support/TestApp.h"
#include "support/TestEnvironment.h"
#include "support/TonalBalance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

// A processor with `song` loaded (a music file of the given length).
struct LoadedProcessor {
    TestApp app;
    BatchProcessor& processor = app.batch;
    fs::path song;

    explicit LoadedProcessor(const std::string& name, double seconds = 8.0, double levelDB = -2.0) {
        // Songs longer than a minute only have to keep a pass busy: a repeated passage does.
        song = seconds > 60.0 ? writeLongMusic(scratchPath(name), seconds, levelDB, 3)
                              : writeMusic(scratchPath(name), seconds, levelDB, 3);
        QFuture<bool> loaded = processor.loadFile(song);
        EXPECT_TRUE(finishes(loaded));
        EXPECT_TRUE(loaded.result());
    }

    const AudioFile& entry() const { return *processor.currentFile(); }

    void master(float target = -8.0f, float ceiling = -0.3f) {
        ASSERT_TRUE(finishes(processor.processCurrentFile(std::string("Loud"), false, target, ceiling)));
    }

    void finalPass(float target = -8.0f, float ceiling = -0.3f) {
        AudioFile file = entry();
        file.finalURL.reset();
        file.finalStats.reset();
        file.processingStatus = AudioFile::ProcessingStatus::pending;
        processor.setCurrentFile(file);
        ASSERT_TRUE(finishes(processor.processCurrentFile(std::string("Loud"), true, target, ceiling)));
    }
};

void storeExportFormat(PreferenceStore& store, const std::string& raw) { store.setString(exportFormatKey, raw); }

} // namespace

TEST(AudioFileEntry, IdentityIsTheIdAlone) {
    const AudioFile a = AudioFile::create("/music/song.wav", 3.0, std::nullopt);
    const AudioFile b = AudioFile::create("/music/song.wav", 3.0, std::nullopt);
    EXPECT_NE(a, b) << "two loads of one file are two entries";
    AudioFile changed = a;
    changed.masterStats = AudioStats{-8.0f, -0.3f, -9.0f};
    changed.processingStatus = AudioFile::ProcessingStatus::completed;
    EXPECT_EQ(changed, a);
    EXPECT_EQ(a.filename, "song.wav");
    EXPECT_TRUE(a.isSelected);
    EXPECT_EQ(a.processingStatus, AudioFile::ProcessingStatus::pending);
}

TEST(BatchProcessor, WithoutALoadedFileNothingRuns) {
    TestApp app;
    BatchProcessor& processor = app.batch;
    int processingChanges = 0;
    QObject::connect(&processor, &BatchProcessor::isProcessingChanged, [&] { ++processingChanges; });
    EXPECT_TRUE(finishes(processor.processCurrentFile(std::string("Loud"), false, -8.0f, -0.3f)));
    EXPECT_TRUE(finishes(processor.processWithAnalyzerPlan(AnalyzerPlan{})));
    EXPECT_FALSE(processor.isProcessing());
    EXPECT_EQ(processingChanges, 0);
    EXPECT_FALSE(processor.usedPresetName().has_value());
}

TEST(BatchProcessor, LoadingMeasuresAudioAndRefusesOtherFiles) {
    TestApp app;
    BatchProcessor& processor = app.batch;
    const fs::path text = scratchPath("notes.wav");
    std::ofstream(text) << "not audio";
    QFuture<bool> refused = processor.loadFile(text);
    ASSERT_TRUE(finishes(refused));
    EXPECT_FALSE(refused.result());
    EXPECT_FALSE(processor.hasCurrentFile());

    const fs::path song = writeMusic(scratchPath("song.wav"), 4.0);
    QFuture<bool> loaded = processor.loadFile(song);
    ASSERT_TRUE(finishes(loaded));
    ASSERT_TRUE(loaded.result());
    const AudioFile& entry = *processor.currentFile();
    EXPECT_EQ(entry.url, song);
    EXPECT_NEAR(*entry.duration, 4.0, 1e-6);
    ASSERT_TRUE(entry.originalStats.has_value());
    EXPECT_NEAR(entry.originalStats->lufs, analyzeAudioFile(song).lufs, 1e-6);
    EXPECT_EQ(entry.processingStatus, AudioFile::ProcessingStatus::pending);
}

// The engine's error is kept for whoever shows the failure: a refused load, then a failed pass.
TEST(BatchProcessor, FailuresKeepTheErrorThatCausedThem) {
    TestApp app;
    BatchProcessor& processor = app.batch;
    int errorChanges = 0;
    QObject::connect(&processor, &BatchProcessor::lastErrorChanged, [&] { ++errorChanges; });
    const fs::path folder = scratchPath("album.wav");
    fs::create_directories(folder);
    QFuture<bool> refused = processor.loadFile(folder);
    ASSERT_TRUE(finishes(refused));
    EXPECT_FALSE(refused.result());
    ASSERT_TRUE(processor.lastError().has_value());
    EXPECT_TRUE(processor.lastError()->is(domains::audioFile, int(AudioFileErrorCode::cannotOpen)));
    EXPECT_NE(processor.lastError()->description().find("is a folder"), std::string::npos);

    LoadedProcessor run("vanishing.wav", 3.0);
    fs::remove(run.song); // gone between loading and mastering
    run.master();
    EXPECT_EQ(run.entry().processingStatus, AudioFile::ProcessingStatus::failed);
    ASSERT_TRUE(run.processor.lastError().has_value());
    EXPECT_EQ(run.processor.lastError()->code(), 3);
    EXPECT_NE(run.processor.lastError()->description().find("Input file not found at path: " + run.song.string()),
              std::string::npos);
    EXPECT_GE(errorChanges, 1);

    // A new pass starts without the old error.
    run.song = writeMusic(run.song, 3.0);
    run.master();
    EXPECT_EQ(run.entry().processingStatus, AudioFile::ProcessingStatus::completed);
    EXPECT_FALSE(run.processor.lastError().has_value());
}

TEST(BatchProcessor, AMasterPassStoresTheMasterAndLeavesTheSongAlone) {
    LoadedProcessor run("song.wav", 10.0, -2.0);
    const std::string before = contentsOf(run.song);
    std::vector<double> progress;
    QObject::connect(&run.processor, &BatchProcessor::progressChanged,
                     [&] { progress.push_back(run.processor.progress()); });
    run.master();

    const AudioFile& entry = run.entry();
    EXPECT_EQ(entry.processingStatus, AudioFile::ProcessingStatus::completed);
    ASSERT_TRUE(entry.masterURL.has_value());
    EXPECT_EQ(entry.masterURL->parent_path(), privateTemporaryDirectory());
    EXPECT_EQ(entry.masterURL->filename(), "song_master.wav");
    EXPECT_NEAR(entry.masterStats->lufs, -8.0, 0.3);
    EXPECT_FALSE(entry.finalURL.has_value());
    EXPECT_EQ(contentsOf(run.song), before);
    EXPECT_FALSE(run.processor.isProcessing());
    EXPECT_EQ(run.processor.progress(), 1.0);
    EXPECT_EQ(run.processor.usedPresetNameText(), "Loud");
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    ASSERT_TRUE(run.processor.lastPass().has_value());
    EXPECT_GE(run.processor.lastPass()->pipeline->passes, 1);

    // The mastered spectrum arrives a little later, from its own task.
    for (int i = 0; i < 200 && run.app.reference.masteredSpectrum() == QVector<float>(12, 0.0f); ++i)
        processEventsFor(10);
    EXPECT_NE(run.app.reference.masteredSpectrum(), QVector<float>(12, 0.0f));
}

TEST(BatchProcessor, AFinalPassWithoutAMasterFailsAtOnce) {
    LoadedProcessor run("song.wav", 3.0);
    run.finalPass();
    EXPECT_EQ(run.entry().processingStatus, AudioFile::ProcessingStatus::failed);
    EXPECT_FALSE(run.processor.isProcessing());
    EXPECT_EQ(run.processor.progress(), 0.0);
    EXPECT_TRUE(run.processor.isFinalMode());
}

// No usable reference: the final version is the master itself, measured again; converting it to M4A
// must not remove the master's WAV, which is still the entry's master.
TEST(BatchProcessor, AFinalPassWithoutAReferenceKeepsTheMaster) {
    LoadedProcessor run("song.wav", 6.0);
    run.master();
    const fs::path masterWav = *run.entry().masterURL;
    storeExportFormat(run.app.store, "M4A");
    run.finalPass();

    const AudioFile& entry = run.entry();
    EXPECT_EQ(entry.processingStatus, AudioFile::ProcessingStatus::completed);
    EXPECT_EQ(*entry.masterURL, masterWav);
    EXPECT_TRUE(fs::exists(masterWav)) << "the master is still a result of the entry";
    ASSERT_TRUE(entry.finalURL.has_value());
    EXPECT_EQ(entry.finalURL->extension(), ".m4a");
    EXPECT_NO_THROW(AudioFileReader{*entry.finalURL});
    // The master measured again, as the M4A it was exported to.
    EXPECT_EQ(entry.finalStats->lufs, analyzeAudioFile(*entry.finalURL).lufs);
    EXPECT_NEAR(entry.finalStats->truePeak, measureTruePeakDb(*entry.finalURL), 1e-4);
}

TEST(BatchProcessor, M4AExportReplacesTheWavAndAFailedConversionKeepsIt) {
    PreferenceStore preferences(PreferenceStore::standardFilePath());
    storeExportFormat(preferences, "M4A");
    {
        LoadedProcessor run("song.wav", 5.0);
        run.master();
        const AudioFile& entry = run.entry();
        ASSERT_EQ(entry.masterURL->filename(), "song_master.m4a");
        EXPECT_FALSE(fs::exists(privateTemporaryDirectory() / "song_master.wav")) << "the WAV it came from is gone";
        AudioFileReader encoded(*entry.masterURL);
        EXPECT_NEAR(double(encoded.lengthFrames()) / encoded.sampleRate(), 5.0, 0.05);
        // The figures are the exported file's, its true peak included.
        const AudioStats exported = analyzeAudioFile(*entry.masterURL);
        EXPECT_EQ(entry.masterStats->lufs, exported.lufs);
        EXPECT_EQ(entry.masterStats->peak, exported.peak);
        EXPECT_NEAR(entry.masterStats->truePeak, measureTruePeakDb(*entry.masterURL), 1e-4);
    }
    {
        // A folder with something in it where the M4A would go makes the conversion fail.
        LoadedProcessor run("blocked.wav", 4.0);
        fs::create_directories(privateTemporaryDirectory() / "blocked_master.m4a");
        std::ofstream(privateTemporaryDirectory() / "blocked_master.m4a" / "keep") << "x";
        testing::internal::CaptureStderr(); // diagnostics go to stderr, stdout carries reports
        run.master();
        const std::string log = testing::internal::GetCapturedStderr();
        const AudioFile& entry = run.entry();
        EXPECT_EQ(entry.processingStatus, AudioFile::ProcessingStatus::completed);
        EXPECT_EQ(entry.masterURL->filename(), "blocked_master.wav");
        EXPECT_TRUE(fs::exists(*entry.masterURL));
        EXPECT_EQ(run.processor.progress(), 1.0);
        EXPECT_NE(log.find("[Processor] Format conversion failed: "), std::string::npos) << log;
        EXPECT_NE(log.find(", keeping original WAV"), std::string::npos) << log;
        EXPECT_TRUE(run.processor.lastPass()->conversionFailed);
        ASSERT_TRUE(run.processor.lastPass()->conversionError.has_value());
        EXPECT_NE(run.processor.lastPass()->conversionError->description().find("blocked_master.m4a"),
                  std::string::npos)
            << "the reason names the file in the way";
    }
}

TEST(BatchProcessor, CancellingDropsTheEntryWithoutMarkingItFailed) {
    LoadedProcessor run("long.wav", 90.0);
    bool markedFailed = false, gotMaster = false;
    QObject::connect(&run.processor, &BatchProcessor::currentFileChanged, [&] {
        if (!run.processor.currentFile()) return;
        markedFailed = markedFailed || run.entry().processingStatus == AudioFile::ProcessingStatus::failed;
        gotMaster = gotMaster || run.entry().masterURL.has_value();
    });
    QFuture<void> pass = run.processor.processCurrentFile(std::string("Loud"), false, -8.0f, -0.3f);
    processEventsFor(100);
    run.processor.cancelProcessing();
    ASSERT_TRUE(finishes(pass));
    processEventsFor(300);
    EXPECT_FALSE(markedFailed);
    EXPECT_FALSE(gotMaster);
    EXPECT_FALSE(run.processor.hasCurrentFile());
    EXPECT_EQ(run.processor.progress(), 0.0);
    EXPECT_FALSE(run.processor.isFinalMode());
    EXPECT_FALSE(run.processor.isProcessing());
}

TEST(BatchProcessor, AReferencePassPublishesTheMatchedEQ) {
    LoadedProcessor run("song.wav", 8.0, -5.0);
    const fs::path reference = writeMusic(scratchPath("reference.wav"), 12.0, 0.0, 17);
    ASSERT_TRUE(referenceApplied(run.app.reference, reference));
    ASSERT_TRUE(run.app.reference.hasUsableReference());

    run.master();
    run.finalPass();
    const AudioFile& entry = run.entry();
    EXPECT_EQ(entry.processingStatus, AudioFile::ProcessingStatus::completed);
    ASSERT_TRUE(entry.finalURL.has_value());
    EXPECT_EQ(entry.finalURL->filename(), "song_final.wav");
    EXPECT_TRUE(fs::exists(*entry.masterURL));

    const EQSettings shown = run.app.eq.eqSettings();
    EXPECT_TRUE(shown.isEnabled);
    EXPECT_TRUE(shown.isAutoReferenceMode);
    EXPECT_EQ(shown.masterGain, 0.0f);
    ASSERT_EQ(shown.bands.size(), 12u);
    EXPECT_EQ(shown.bands[10].gain, 0.0f);
    EXPECT_EQ(shown.bands[11].gain, 0.0f);
    bool anyMatched = false;
    for (size_t i = 0; i < 10; ++i) anyMatched = anyMatched || shown.bands[i].gain != 0.0f;
    EXPECT_TRUE(anyMatched) << "different songs give a non-flat curve";

    // The default strength gives a gentle, smooth curve: small gains, no steps between neighbours.
    EXPECT_EQ(run.app.reference.matchStrength(), gentleMatchStrength);
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_LE(std::fabs(shown.bands[i].gain), 6.0f) << "band " << i;
        if (i > 0) EXPECT_LE(std::fabs(shown.bands[i].gain - shown.bands[i - 1].gain), 4.0f) << "band " << i;
    }
}

// At full strength the final corrects the whole tonal difference: none for a reference that is only
// quieter, and a final clearly closer to a darker reference of other music than the master.
TEST(BatchProcessor, AtFullStrengthTheFinalTakesTheReferencesToneAndNotItsLevel) {
    LoadedProcessor run("song.wav", 10.0, -8.0);
    ReferenceTrackManager& reference = run.app.reference;
    reference.setMatchStrength(fullMatchStrength);
    run.master(-16.0f, -1.0f); // quiet enough that no band of the master tops the level scale

    double rate = 0.0;
    Channels quieter = readWithSndfile(*run.entry().masterURL, &rate);
    for (auto& channel : quieter)
        for (float& sample : channel) sample *= 0.5f; // −6 dB
    writeWav(scratchPath("quieter.wav"), quieter, rate);
    ASSERT_TRUE(referenceApplied(reference, scratchPath("quieter.wav")));
    run.finalPass(-16.0f, -1.0f);
    ASSERT_EQ(run.entry().processingStatus, AudioFile::ProcessingStatus::completed);
    for (const EQBand& band : run.app.eq.eqSettings().bands) EXPECT_NEAR(band.gain, 0.0f, 0.2f);

    // Other music, its highs 6 dB down above about 2 kHz (half of it through a one-pole low-pass).
    Channels darker = readWithSndfile(writeMusic(scratchPath("other.wav"), 10.0, -4.0, 17), &rate);
    const float a = std::exp(-2.0f * 3.14159265f * 2000.0f / float(rate));
    for (auto& channel : darker) {
        float low = 0.0f;
        for (float& sample : channel) {
            low = (1.0f - a) * sample + a * low;
            sample = 0.5f * (sample + low);
        }
    }
    writeWav(scratchPath("darker.wav"), darker, rate);
    ASSERT_TRUE(referenceApplied(reference, scratchPath("darker.wav")));
    run.finalPass(-16.0f, -1.0f);
    const AudioFile& entry = run.entry();
    ASSERT_EQ(entry.processingStatus, AudioFile::ProcessingStatus::completed);
    const EQSettings applied = run.app.eq.eqSettings();
    for (const EQBand& band : applied.bands) EXPECT_LE(std::fabs(band.gain), matchBandLimitDb);
    EXPECT_EQ(applied.bands[10].gain, 0.0f);
    EXPECT_EQ(applied.bands[11].gain, 0.0f);
    const double master = tonalDistanceDb(*entry.masterURL, scratchPath("darker.wav"));
    const double final = tonalDistanceDb(*entry.finalURL, scratchPath("darker.wav"));
    EXPECT_LT(final, 0.75 * master) << "master " << master << " dB, final " << final << " dB";
}

// EQ off and a side gain within 0.01 dB: the correction is a plain copy, so the analyzer pass masters
// exactly what a master pass with the same settings makes.
TEST(BatchProcessor, AnAnalyzerPlanWithoutCorrectionCopiesTheSong) {
    LoadedProcessor direct("song.wav", 6.0);
    direct.master(-10.0f, -0.5f);
    const auto expected = readWithSndfile(*direct.entry().masterURL);

    TestApp app;
    BatchProcessor& analyzer = app.batch;
    ASSERT_TRUE(finishes(analyzer.loadFile(direct.song)));
    AnalyzerPlan plan;
    plan.settings = {-10.0f, -0.5f};
    plan.eqSettings.isEnabled = false;
    plan.sideGainDB = 0.005f;
    ASSERT_TRUE(finishes(analyzer.processWithAnalyzerPlan(plan)));
    const AudioFile& entry = *analyzer.currentFile();
    EXPECT_EQ(entry.processingStatus, AudioFile::ProcessingStatus::completed);
    EXPECT_TRUE(analyzer.wasAnalyzerUsed());
    EXPECT_EQ(analyzer.usedPresetNameText(), "Analyzer");
    EXPECT_EQ(readWithSndfile(*entry.masterURL), expected);
    EXPECT_FALSE(fs::exists(privateTemporaryDirectory() / "song_analyzer_eq.wav")) << "removed after the run";
}

TEST(BatchProcessor, ResetForgetsTheEntryAndTheSpectra) {
    LoadedProcessor run("song.wav", 3.0);
    run.master();
    run.app.reference.setOriginalSpectrum(QVector<float>(12, 3.0f));
    run.processor.reset();
    EXPECT_FALSE(run.processor.hasCurrentFile());
    EXPECT_FALSE(run.processor.isFinalMode());
    EXPECT_EQ(run.app.reference.originalSpectrum(), QVector<float>(12, 0.0f));
    EXPECT_EQ(run.processor.usedPresetNameText(), "Loud") << "the preset name stays";
}
