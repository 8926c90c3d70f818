// A real mastering run, its events shown by the status manager: the screen reads exactly the
// stages, messages and checklist lines of the processing screen.
#include "batch/MasterFile.h"
#include "engine/LoudnessMeter.h"
#include "engine/TempoDetector.h"
#include "models/engine/ProcessingStatusManager.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

using namespace orvanta;
using namespace orvanta::test;

namespace {

void drainEvents() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

std::string oneDecimal(float value, const char* format = "%.1f") {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}
QString text(const std::string& value) { return QString::fromStdString(value); }

struct Line {
    QString title, value, icon;
    bool highlighted = false;
};

void expectChecklist(const ProcessingStatusManager& manager, const std::vector<Line>& expected) {
    const auto items = manager.checklistItems();
    ASSERT_EQ(items.size(), qsizetype(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].title.toStdString());
        EXPECT_EQ(items[qsizetype(i)].title, expected[i].title);
        EXPECT_EQ(items[qsizetype(i)].value, expected[i].value);
        EXPECT_EQ(items[qsizetype(i)].icon, expected[i].icon);
        EXPECT_TRUE(items[qsizetype(i)].isCompleted);
        EXPECT_EQ(items[qsizetype(i)].isHighlighted, expected[i].highlighted);
    }
}

// Runs the core on a worker thread, as the batch processor does, with every event shown by `manager`.
MasteredFile runShown(const MasteringOptions& base, ProcessingStatusManager& manager, QStringList& messages) {
    QObject::connect(&manager, &ProcessingStatusManager::detailedMessageChanged,
                     [&] { messages << manager.detailedMessage(); });
    MasteringOptions options = base;
    options.events = [&manager](const MasteringEvent& event) { manager.report(event); };
    MasteredFile result;
    std::thread worker([&] { result = masterFile(options); });
    worker.join();
    drainEvents();
    return result;
}

} // namespace

TEST(StatusNarration, AMultiPassMasterReadsAsTheProcessingScreenShowsIt) {
    const auto input = writeMusic(scratchPath("Shown.wav"), 10, -12.0, 7);
    MasteringOptions options;
    options.input = input;
    options.targetLUFS = -8.0f;
    options.limitThreshold = -0.5f;
    ProcessingStatusManager manager;
    manager.completeChecklistItem("Left over", "from the run before", "target", false);
    QStringList messages;
    const MasteredFile master = runShown(options, manager, messages);
    ASSERT_TRUE(master.pipeline);
    const AudioStats& out = master.result.stats;

    const AudioStats in = analyzeAudioFile(input);
    const std::string delta = oneDecimal(-8.0f - in.lufs, "%+.1f");
    ASSERT_GT(-8.0f - in.lufs, 6.0f) << "the song is quiet enough to need a large boost";

    EXPECT_EQ(manager.currentStage(), ProcessingStage::complete);
    EXPECT_EQ(manager.detailedMessage(), "Mastering complete!");
    EXPECT_EQ(manager.technicalInfo(), text("Output: " + oneDecimal(out.lufs) + " LUFS"));
    ASSERT_GE(messages.size(), 8);
    EXPECT_EQ(messages[0], "Reading audio spectrum...");
    EXPECT_EQ(messages[1], text("Significant boost needed (" + delta + " dB)"));
    EXPECT_EQ(messages[2], "Analyzing rhythm patterns...");
    EXPECT_EQ(messages[3], "Tempo detected!");
    EXPECT_EQ(messages[4], "Computing gain structure...");
    EXPECT_EQ(messages[5], "Initial gain calculation...");
    EXPECT_EQ(messages[6], "4-band limiting active...");
    EXPECT_EQ(messages[7], "Verifying output levels...");
    EXPECT_EQ(messages.count("Verifying output levels..."), master.pipeline->passes);

    // The run's first event starts a new checklist; items first added as pending keep that icon.
    expectChecklist(manager, {{"Input LUFS", text(oneDecimal(in.lufs) + " LUFS"), "circle.dotted"},
                              {"Peak Level", text(oneDecimal(in.peak) + " dBFS"), "arrow.up.to.line"},
                              {"Target", "-8.0 LUFS", "target"},
                              {"BPM", text(std::to_string(detectTempo(input)) + " BPM"), "circle.dotted"},
                              {"Gain Adjust", text(delta + " dB"), "slider.horizontal.3"},
                              {"Processing", "Multi-pass", "arrow.triangle.2.circlepath"},
                              {"Limiter", "LR4 SO/40", "chart.bar.fill"},
                              {"Threshold", "-0.5 dBFS", "minus.circle"},
                              {"Output Peak", text(oneDecimal(out.truePeak) + " dBTP"), "arrow.up.to.line"},
                              {"Output LUFS", text(oneDecimal(out.lufs) + " LUFS"), "speaker.wave.3.fill", true}});
}

TEST(StatusNarration, AReferenceFinalAddsTheFinalLoudnessAndMovesTheHighlight) {
    const auto input = writeMusic(scratchPath("Ref.wav"), 8, -6.0, 3);
    MasteringOptions options;
    options.input = input;
    options.targetLUFS = -9.0f;
    options.limitThreshold = -0.3f;
    ProcessingStatusManager manager;
    QStringList messages;
    const MasteredFile master = runShown(options, manager, messages);

    options.input = master.result.outputURL;
    options.pass = MasteringPass::referenceFinal;
    BandLevels brighter{};
    for (std::size_t i = 0; i < brighter.size(); ++i) brighter[i] = 4.0f + 0.2f * float(i);
    options.reference = ReferenceMatch{brighter, 100.0f};
    messages.clear();
    const MasteredFile final = runShown(options, manager, messages);
    ASSERT_TRUE(final.matchedEQ);

    EXPECT_EQ(manager.currentStage(), ProcessingStage::complete);
    EXPECT_EQ(manager.detailedMessage(), "EQ remaster complete!");
    EXPECT_EQ(manager.technicalInfo(), "");
    EXPECT_TRUE(messages.contains("Applying EQ adjustments..."));
    const auto items = manager.checklistItems();
    ASSERT_GE(items.size(), 2);
    EXPECT_EQ(items[items.size() - 2].title, "EQ Applied");
    EXPECT_EQ(items[items.size() - 2].value, "Yes");
    EXPECT_EQ(items.last().title, "Final LUFS");
    EXPECT_EQ(items.last().value.toStdString(), oneDecimal(final.result.stats.lufs) + " LUFS");
    EXPECT_TRUE(items.last().isHighlighted);
    for (const auto& item : items) {
        if (item.title == "Output LUFS") {
            EXPECT_FALSE(item.isHighlighted) << "only the final loudness stands out";
        }
    }
}
