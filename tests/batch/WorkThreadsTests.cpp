// A run on one thread (one of several runs sharing the cores) against the pipelined run: the same
// samples and figures, and no thread of its own.
#include "batch/AudioProcessor.h"
#include "batch/MasterFile.h"
#include "engine/LimiterPass.h"
#include "engine/LoudnessMeter.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <thread>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

// The threads of this process now, from the kernel's count.
int threadCount() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
    }
    return -1;
}

// The ids of this process's threads now.
std::set<std::string> threadIds() {
    std::set<std::string> ids;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) ids.insert(task.path().filename().string());
    return ids;
}

// Masters `input` to the target and ceiling with `threads`; returns the master's bytes and figures.
std::pair<std::string, AudioStats> master(const fs::path& input, float target, float ceiling, WorkThreads threads) {
    const DJMasteringResult result = AudioProcessor::processAudio(input, nullptr, nullptr, false, std::nullopt, true,
                                                                  target, ceiling, {}, threads);
    std::string bytes = contentsOf(result.outputURL);
    fs::remove(result.outputURL);
    return {std::move(bytes), result.stats};
}

void expectSameFigures(const AudioStats& a, const AudioStats& b, const std::string& what) {
    EXPECT_EQ(a.lufs, b.lufs) << what;
    EXPECT_EQ(a.peak, b.peak) << what;
    EXPECT_EQ(a.truePeak, b.truePeak) << what;
    EXPECT_EQ(a.rms, b.rms) << what;
}

} // namespace

// Every preset's path through the chain (the soft clipper above −8 LUFS, a lowered ceiling), several
// passes, stereo and mono, on lengths that end mid-block: one thread writes the same file.
TEST(WorkThreads, OneThreadMastersTheSameSamplesAsThePipeline) {
    const fs::path stereo = writeMusic(scratchPath("stereo.wav"), 13.3, -16.0, 7);
    const Channels music = readWithSndfile(writeMusic(scratchPath("for-mono.wav"), 9.7, -18.0, 3));
    const fs::path mono = scratchPath("mono.wav");
    writeWav(mono, {music[0]}, 44100.0, SampleFormat::pcm16);

    struct Case {
        fs::path input;
        float target, ceiling;
    };
    for (const Case& c : {Case{stereo, -8.0f, -0.3f}, Case{stereo, -6.0f, -0.3f}, Case{stereo, -14.0f, -1.0f},
                          Case{mono, -8.0f, -0.3f}}) {
        const std::string what = c.input.filename().string() + " to " + std::to_string(c.target) + " LUFS";
        const auto [pipelined, pipelinedStats] = master(c.input, c.target, c.ceiling, WorkThreads::pipelined);
        const auto [alone, aloneStats] = master(c.input, c.target, c.ceiling, WorkThreads::oneThread);
        ASSERT_GT(pipelined.size(), 1000u) << what;
        EXPECT_TRUE(alone == pipelined) << what << ": the samples differ";
        expectSameFigures(aloneStats, pipelinedStats, what);
    }
}

TEST(WorkThreads, OneThreadMeasuresTheSameFigures) {
    const fs::path song = writeMusic(scratchPath("song.wav"), 7.1, -12.0, 5);
    expectSameFigures(analyzeAudioFile(song, WorkThreads::oneThread), analyzeAudioFile(song, WorkThreads::pipelined),
                      "measure");
}

// The largest number of threads this process has while it lives, as a watcher thread of its own sees
// them every half millisecond (the watcher included).
class ThreadWatch {
public:
    ThreadWatch() : watcher_([this] {
        while (!stop_) {
            most_ = std::max(most_.load(), threadCount());
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }) {
        while (most_ == 0) std::this_thread::yield();
    }
    ~ThreadWatch() {
        stop_ = true;
        watcher_.join();
    }
    int most() const { return most_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> most_{0};
    std::thread watcher_;
};

// The point of one thread: a run that shares the cores starts none, in the measuring or the passes,
// for stereo and for more channels than one vector pair holds.
TEST(WorkThreads, OneThreadStartsNoThread) {
    const fs::path stereo = writeMusic(scratchPath("song.wav"), 6.0, -16.0, 9);
    Channels three = readWithSndfile(stereo);
    three.push_back(three[0]);
    const fs::path surround = scratchPath("three.wav");
    writeWav(surround, three, 44100.0, SampleFormat::pcm16);
    for (const fs::path& song : {stereo, surround}) {
        const ThreadWatch watch;
        const int before = threadCount();
        ASSERT_GT(before, 0);
        const LimiterPassReport pass = renderLimiterPass(song, scratchPath("pass.wav"), 2.0f, 120, -8.0f, -0.3f,
                                                         nullptr, nullptr, WorkThreads::oneThread);
        EXPECT_EQ(pass.stats.measurability, Measurability::measurable);
        const DJMasteringResult result = AudioProcessor::processAudio(song, nullptr, nullptr, false, std::nullopt,
                                                                      true, -8.0f, -0.3f, {}, WorkThreads::oneThread);
        fs::remove(result.outputURL);
        EXPECT_EQ(watch.most(), before) << song.filename();
    }
}

// An M4A export on one thread encodes serially: its AAC encoder starts no thread of its own either.
TEST(WorkThreads, AnM4AExportOnOneThreadStartsNoThread) {
    const fs::path song = writeMusic(scratchPath("export.wav"), 12.0, -16.0, 5);
    MasteringOptions options;
    options.input = song;
    options.targetLUFS = -9.0f;
    options.limitThreshold = -1.0f;
    options.format = ExportFormat::m4a;
    options.threads = WorkThreads::oneThread;
    const ThreadWatch watch;
    const int before = threadCount();
    const MasteredFile exported = masterFile(options);
    ASSERT_FALSE(exported.conversionFailed);
    EXPECT_EQ(exported.result.outputURL.extension(), ".m4a");
    EXPECT_EQ(watch.most(), before);
    fs::remove(exported.result.outputURL);
}

// A pipelined pass keeps a few workers for the whole pass instead of starting threads per block: over
// a pass of some fifteen blocks, few distinct threads ever exist, and none is left afterwards.
TEST(WorkThreads, APipelinedPassStartsItsWorkersOnce) {
    const fs::path song = writeMusic(scratchPath("long.wav"), 30.0, -16.0, 4);
    const std::set<std::string> before = threadIds();
    std::set<std::string> seen = before;
    const ProgressCallback progress = [&](double) {
        for (const std::string& id : threadIds()) seen.insert(id);
    };
    renderLimiterPass(song, scratchPath("pass.wav"), 2.0f, 120, -8.0f, -0.3f, progress, nullptr,
                      WorkThreads::pipelined);
    EXPECT_GT(seen.size(), before.size());
    EXPECT_LE(seen.size(), before.size() + 8);
    EXPECT_EQ(threadIds(), before);
}
