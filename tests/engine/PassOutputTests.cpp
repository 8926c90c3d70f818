#include "engine/LimiterPass.h"
#include "engine/PassOutput.h"
#include "platform/Error.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

TEST(PassOutput, AHeldPassIsWrittenOnlyWhenPlacedAndThenMatchesAPassWrittenStraightToAFile) {
    // Pushed 12 dB into the chain, so that every stage works on the samples.
    const fs::path in = writeMusic(scratchPath("held-in.wav"), 3.3);
    const MasteringChainSettings settings = passChainSettings(4.0f, 124, -8.0f, -0.3f);
    const fs::path direct = scratchPath("direct.wav");
    const LimiterPassReport straight = renderLimiterPass(in, direct, settings, nullptr, nullptr);

    for (WorkThreads threads : {WorkThreads::oneThread, WorkThreads::pipelined}) {
        PassOutput output(scratchPath("held-spill.wav"));
        const LimiterPassReport held = renderLimiterPass(in, output, settings, nullptr, nullptr, threads);
        ASSERT_TRUE(output.isHeld());
        EXPECT_FALSE(fs::exists(output.spill())) << "nothing reaches the disk before the pass is kept";
        EXPECT_EQ(output.held()->frameLength(), frameCountOf(in));
        EXPECT_EQ(held.stats.lufs, straight.stats.lufs);
        EXPECT_EQ(held.stats.truePeak, straight.stats.truePeak);

        const fs::path result = scratchPath("placed.wav");
        std::ofstream(result) << "an older result"; // replaced
        output.placeAt(result);
        EXPECT_EQ(contentsOf(result), contentsOf(direct)) << "byte for byte the file a plain pass writes";
        EXPECT_FALSE(fs::exists(output.spill()));
    }

    // A pass the run expects to keep is in its file when the pass ends, and placing it only moves it.
    PassOutput written(scratchPath("written-spill.wav"), PassKeeping::written);
    const LimiterPassReport streamed = renderLimiterPass(in, written, settings, nullptr, nullptr);
    EXPECT_FALSE(written.isHeld());
    EXPECT_EQ(contentsOf(written.spill()), contentsOf(direct));
    EXPECT_EQ(streamed.stats.lufs, straight.stats.lufs);
    const fs::path placed = scratchPath("placed-written.wav");
    written.placeAt(placed);
    EXPECT_EQ(contentsOf(placed), contentsOf(direct));
}

TEST(PassOutput, WhatIsNotPlacedLeavesNothingBehind) {
    const fs::path in = writeMusic(scratchPath("dropped-in.wav"), 1.5);
    const MasteringChainSettings settings = passChainSettings(2.0f, 0, -14.0f, -1.0f);
    const fs::path spill = scratchPath("dropped-spill.wav");
    {
        PassOutput output(spill);
        renderLimiterPass(in, output, settings, nullptr, nullptr);
        EXPECT_TRUE(output.isHeld());
    }
    EXPECT_FALSE(fs::exists(spill));

    // A spilled pass's file goes with its owner, and only with it: a moved-from output removes nothing.
    PassOutput kept;
    {
        PassOutput spilled(spill);
        std::ofstream(spill) << "pass samples";
        kept = std::move(spilled);
    }
    EXPECT_TRUE(fs::exists(spill));
    kept.discard();
    EXPECT_FALSE(fs::exists(spill));

    // A cancelled pass holds nothing and writes nothing.
    PassOutput cancelled(spill);
    EXPECT_THROW(renderLimiterPass(in, cancelled, settings, nullptr, [] { return true; }), Error);
    cancelled.discard();
    EXPECT_FALSE(fs::exists(spill));
}

TEST(PassOutput, PassesAreHeldOnlyWhileTheyFitTheBudgetTogether) {
    AudioFormat stereo;
    stereo.sampleRate = 44100.0;
    stereo.channelCount = 2;
    const int64_t fitting = int64_t(PassOutput::memoryBudgetBytes / (2 * sizeof(float)));
    PassOutput first(scratchPath("first.wav")), second(scratchPath("second.wav"));
    EXPECT_EQ(first.hold(stereo, fitting + 1), nullptr) << "one frame over the budget streams to the file";
    EXPECT_FALSE(first.isHeld());
    EXPECT_EQ(first.hold(stereo, 0), nullptr);

    ASSERT_NE(first.hold(stereo, fitting / 2), nullptr);
    EXPECT_EQ(second.hold(stereo, fitting / 2 + 1), nullptr) << "the two together would pass the budget";
    PassOutput moved = std::move(first); // the budget goes with the samples
    EXPECT_EQ(second.hold(stereo, fitting / 2 + 1), nullptr);
    moved.discard();
    ASSERT_NE(second.hold(stereo, fitting / 2 + 1), nullptr) << "what was freed is there again";
    EXPECT_EQ(second.held()->frameLength(), uint32_t(fitting / 2 + 1));
}
