#include "platform/AacPieces.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/LossyEncoder.h"
#include "support/AudioMeasures.h"
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <iterator>

using namespace orvanta;
using namespace orvanta::test;

namespace {

// Names in `folder` other than `keep`: partial files left behind would show up here.
std::vector<std::string> otherFiles(const std::filesystem::path& folder, const std::string& keep) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != keep && name.find(".partial-") != std::string::npos) names.push_back(name);
    }
    return names;
}

} // namespace

TEST(M4AEncoder, KeepsLengthRateAndChannelsAndPutsTheIndexFirst) {
    struct Case {
        size_t channels;
        double rate;
        size_t frames;
    };
    for (const Case& c : {Case{2, 44100, 44100 * 2 + 333}, Case{1, 48000, 48000 + 1}, Case{6, 48000, 30000}}) {
        Channels source;
        for (size_t ch = 0; ch < c.channels; ++ch) source.push_back(sine(200.0 + 50.0 * double(ch), 0.5, c.rate, c.frames));
        const std::string name = "enc" + std::to_string(c.channels);
        const auto wav = scratchPath(name + ".wav");
        const auto m4a = scratchPath(name + ".m4a");
        writeWav(wav, source, c.rate, SampleFormat::pcm24);
        encodeM4A(wav, m4a);

        AudioFileReader reader(m4a);
        EXPECT_EQ(reader.channelCount(), c.channels) << name;
        EXPECT_EQ(reader.sampleRate(), c.rate) << name;
        EXPECT_EQ(reader.lengthFrames(), int64_t(c.frames)) << name;

        const std::string bytes = contentsOf(m4a);
        const auto moov = bytes.find("moov");
        const auto mdat = bytes.find("mdat");
        ASSERT_NE(moov, std::string::npos);
        ASSERT_NE(mdat, std::string::npos);
        EXPECT_LT(moov, mdat) << name << ": the index should come before the audio";
        EXPECT_TRUE(otherFiles(scratchDirectory(), m4a.filename().string()).empty());
    }
}

TEST(M4AEncoder, ReplacesAnOlderFileOnlyWhenComplete) {
    const auto wav = scratchPath("in.wav");
    writeWav(wav, {sine(440, 0.5, 44100, 20000)}, 44100);
    const auto m4a = scratchPath("out.m4a");
    std::ofstream(m4a) << "old";
    encodeM4A(wav, m4a);
    EXPECT_EQ(AudioFileReader(m4a).lengthFrames(), 20000);

    // A channel count AAC cannot carry fails before anything replaces the existing output.
    const auto wide = scratchPath("wide.wav");
    writeWav(wide, Channels(9, sine(440, 0.5, 48000, 20000)), 48000);
    const std::string before = contentsOf(m4a);
    try {
        encodeM4A(wide, m4a);
        FAIL() << "9 channels encoded as AAC";
    } catch (const Error& error) {
        EXPECT_TRUE(error.is(domains::audioFile, int(AudioFileErrorCode::unsupportedFormat))) << error.what();
        EXPECT_NE(error.description().find("AAC cannot carry 9 channels"), std::string::npos) << error.what();
        EXPECT_NE(error.description().find(wide.string()), std::string::npos);
    }
    EXPECT_EQ(contentsOf(m4a), before);
    EXPECT_TRUE(otherFiles(scratchDirectory(), "out.m4a").empty());
}

TEST(M4AEncoder, FailuresLeaveNothingBehind) {
    const auto wav = scratchPath("in.wav");
    writeWav(wav, {sine(440, 0.5, 44100, 20000)}, 44100);

    const auto missingFolder = scratchPath("no-such-folder") / "out.m4a";
    EXPECT_THROW(encodeM4A(wav, missingFolder), Error);
    EXPECT_FALSE(std::filesystem::exists(missingFolder.parent_path()));

    const auto text = scratchPath("text.wav");
    std::ofstream(text) << "not audio at all";
    const auto out = scratchPath("text.m4a");
    try {
        encodeM4A(text, out);
        FAIL() << "text encoded";
    } catch (const Error& error) {
        EXPECT_TRUE(error.is(domains::audioFile, int(AudioFileErrorCode::cannotOpen))) << error.what();
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_TRUE(otherFiles(scratchDirectory(), "").empty());
    EXPECT_EQ(contentsOf(text), "not audio at all");
}

// The input gain scales the samples before the codec: the decoded sine moves by exactly the gain.
// (Past 0.95 of full scale the codec itself scales frames down, so a boost is tested below that.)
TEST(M4AEncoder, InputGainScalesTheDecodedLevel) {
    const auto wav = scratchPath("tone.wav");
    writeWav(wav, {sine(1000.0, std::pow(10.0, -12.0 / 20.0), 48000, 48000)}, 48000);
    const auto decodedPeakDb = [&](float gainDb) {
        const auto m4a = scratchPath("tone.m4a");
        encodeM4A(wav, m4a, gainDb);
        AudioFileReader reader(m4a);
        AudioBuffer buffer = reader.makeBuffer(uint32_t(reader.lengthFrames()));
        const uint32_t frames = reader.read(buffer, uint32_t(reader.lengthFrames()));
        // The middle second's peak, away from the codec's start-up and fade-out.
        const std::vector<float> middle(buffer.channel(0) + frames / 4, buffer.channel(0) + 3 * frames / 4);
        return 20.0 * std::log10(peakOf(middle));
    };
    EXPECT_NEAR(decodedPeakDb(0.0f), -12.0, 0.1);
    EXPECT_NEAR(decodedPeakDb(-6.0f), -18.0, 0.1);
    EXPECT_NEAR(decodedPeakDb(9.0f), -3.0, 0.1);
}

// AAC carries at most 96 kHz: 192 kHz is resampled to 48 kHz, keeping length and level.
TEST(M4AEncoder, RatesPastNinetySixKilohertzAreResampledToFortyEight) {
    const auto wav = scratchPath("hires.wav");
    const size_t frames = 192000 + 777;
    writeWav(wav, {sine(1000.0, 0.25, 192000, frames), sine(3000.0, 0.25, 192000, frames)}, 192000,
             SampleFormat::pcm24);
    const auto m4a = scratchPath("hires.m4a");
    const M4AEncoding encoding = encodeM4A(wav, m4a);
    EXPECT_EQ(encoding.sourceSampleRate, 192000.0);
    EXPECT_EQ(encoding.sampleRate, 48000);

    AudioFileReader reader(m4a);
    EXPECT_EQ(reader.sampleRate(), 48000.0);
    EXPECT_EQ(reader.channelCount(), 2u);
    EXPECT_NEAR(double(reader.lengthFrames()), double(frames) / 4.0, 2.0);
    AudioBuffer buffer = reader.makeBuffer(uint32_t(reader.lengthFrames()));
    const uint32_t got = reader.read(buffer, uint32_t(reader.lengthFrames()));
    for (uint32_t c = 0; c < 2; ++c) {
        const std::vector<float> middle(buffer.channel(c) + got / 4, buffer.channel(c) + 3 * got / 4);
        EXPECT_NEAR(20.0 * std::log10(rmsOf(middle) * std::sqrt(2.0)), 20.0 * std::log10(0.25), 0.2) << "channel " << c;
    }

    // A rate the encoder takes is kept.
    const auto plain = scratchPath("plain.wav");
    writeWav(plain, {sine(1000.0, 0.25, 96000, 9600)}, 96000);
    EXPECT_EQ(encodeM4A(plain, scratchPath("plain.m4a")).sampleRate, 96000);
}

// An MP3 carries its encoder delay and padding in the LAME header: ffmpeg and the reader both give
// back exactly the input's frames, at the input's rate; a rate MPEG audio cannot carry becomes 48 kHz.
TEST(LossyEncoder, Mp3IsGaplessAndCarriesTheRatesOfMpegAudio) {
    struct Case {
        double rate;
        size_t frames;
        double encodedRate;
    };
    for (const Case& c : {Case{44100, 44100 * 3 + 333, 44100}, Case{48000, 48000 + 1, 48000}, Case{96000, 96000, 48000}}) {
        SCOPED_TRACE(c.rate);
        const auto wav = scratchPath("gapless.wav");
        writeWav(wav, {sine(440.0, 0.5, c.rate, c.frames), sine(660.0, 0.5, c.rate, c.frames)}, c.rate);
        const auto mp3 = scratchPath("gapless.mp3");
        const LossyEncoding encoding = encodeLossy(wav, mp3, LossyCodec::mp3);
        EXPECT_EQ(encoding.sampleRate, int(c.encodedRate));
        const size_t expected = size_t(std::llround(double(c.frames) * c.encodedRate / c.rate));
        double rate = 0.0;
        const Channels decoded = decodedWithFfmpeg(mp3, &rate);
        ASSERT_EQ(decoded.size(), 2u);
        EXPECT_EQ(rate, c.encodedRate);
        if (c.encodedRate == c.rate) {
            EXPECT_EQ(decoded[0].size(), expected);
            EXPECT_EQ(AudioFileReader(mp3).lengthFrames(), int64_t(expected));
        } else {
            EXPECT_NEAR(double(decoded[0].size()), double(expected), 2.0);
        }
    }
    // MPEG audio carries mono or stereo only.
    const auto wide = scratchPath("wide.wav");
    writeWav(wide, Channels(3, sine(440, 0.5, 44100, 20000)), 44100);
    EXPECT_THROW(encodeLossy(wide, scratchPath("wide.mp3"), LossyCodec::mp3), Error);
}

namespace {

Channels decodedWithReader(const std::filesystem::path& file) {
    AudioFileReader reader(file);
    AudioBuffer buffer = reader.makeBuffer(uint32_t(reader.lengthFrames()));
    reader.read(buffer, uint32_t(reader.lengthFrames()));
    return fromBuffer(buffer);
}

// Error energy of `decoded` against `source` in each 1024-frame block, dB.
std::vector<double> blockErrorDb(const Channels& source, const Channels& decoded) {
    std::vector<double> blocks(source[0].size() / 1024);
    for (size_t b = 0; b < blocks.size(); ++b) {
        double energy = 1e-30;
        for (size_t c = 0; c < source.size(); ++c)
            for (size_t i = b * 1024; i < (b + 1) * 1024; ++i) {
                const double error = double(decoded[c][i]) - double(source[c][i]);
                energy += error * error;
            }
        blocks[b] = 10.0 * std::log10(energy);
    }
    return blocks;
}

LossyEncodingOptions onThreads(int threads) {
    LossyEncodingOptions options;
    options.threads = threads;
    return options;
}

} // namespace

// A steady chord over noise encoded in four pieces: the joined file decodes to exactly the input's
// frames, and the blocks at every seam carry no more coding error than the median block (no click,
// no gap, no doubled frame).
TEST(M4AInPieces, JoinsGaplesslyWithoutAMarkAtTheSeams) {
    const double rate = 44100.0;
    const size_t frames = size_t(rate * 24) + 333;
    Channels source(2, std::vector<float>(frames));
    const std::vector<float> noise = whiteNoise(0.02, frames, 7);
    for (size_t c = 0; c < 2; ++c) {
        const std::vector<float> low = sine(110.0 * double(c + 1), 0.3, rate, frames);
        const std::vector<float> high = sine(1234.5, 0.1, rate, frames, double(c));
        for (size_t i = 0; i < frames; ++i) source[c][i] = low[i] + high[i] + noise[i];
    }
    const auto wav = scratchPath("steady.wav");
    writeWav(wav, source, rate, SampleFormat::float32);
    const Channels input = readWithSndfile(wav);
    const auto m4a = scratchPath("steady.m4a");
    encodeLossy(wav, m4a, LossyCodec::aac, onThreads(4));

    const Channels decoded = decodedWithReader(m4a);
    ASSERT_EQ(decoded.size(), 2u);
    ASSERT_EQ(decoded[0].size(), frames);
    const std::vector<double> errors = blockErrorDb(input, decoded);
    std::vector<double> sorted(errors.begin() + 4, errors.end() - 4);
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const auto pieces = lossy::cutIntoPieces(int64_t(frames), 1024, 4);
    ASSERT_EQ(pieces.size(), 4u);
    for (size_t p = 1; p < pieces.size(); ++p) {
        const size_t seam = size_t(pieces[p].firstOwned / 1024);
        for (size_t b = seam - 2; b <= seam + 1; ++b)
            EXPECT_LE(errors[b], median + 1.0) << "block " << b << " at the seam before piece " << p;
    }
    EXPECT_TRUE(otherFiles(scratchDirectory(), "").empty());
}

// Music in pieces measures as the serial encoding does (libebur128 on ffmpeg's decoding), also for an
// excerpt, which starts and ends where it was asked to.
TEST(M4AInPieces, MusicKeepsTheSerialLoudnessAndTruePeak) {
    const auto wav = writeMusic(scratchPath("music.wav"), 40.0, -1.0, 3);
    const auto serial = scratchPath("serial.m4a");
    const auto pieces = scratchPath("pieces.m4a");
    encodeLossy(wav, serial, LossyCodec::aac, onThreads(1));
    encodeLossy(wav, pieces, LossyCodec::aac, onThreads(3));
    EXPECT_NE(contentsOf(serial), contentsOf(pieces));
    const Ebur128Reading one = measureWithEbur128(decodedWithFfmpeg(serial), 44100.0);
    const Ebur128Reading three = measureWithEbur128(decodedWithFfmpeg(pieces), 44100.0);
    EXPECT_NEAR(three.integratedLufs, one.integratedLufs, 0.05);
    EXPECT_NEAR(three.truePeakDb, one.truePeakDb, 0.1);
    EXPECT_EQ(AudioFileReader(pieces).lengthFrames(), AudioFileReader(wav).lengthFrames());

    LossyEncodingOptions excerpt = onThreads(2);
    excerpt.firstFrame = 44100 * 3 + 17;
    excerpt.frameCount = 44100 * 20 + 5;
    encodeLossy(wav, pieces, LossyCodec::aac, excerpt);
    const Channels part = decodedWithReader(pieces);
    ASSERT_EQ(part[0].size(), size_t(excerpt.frameCount));
    // The excerpt's middle lines up with the input's frames: the coding error is far below the signal.
    const Channels whole = readWithSndfile(wav);
    std::vector<float> error(44100);
    std::vector<float> signal(44100);
    for (size_t i = 0; i < error.size(); ++i) {
        signal[i] = whole[0][size_t(excerpt.firstFrame) + 441000 + i];
        error[i] = part[0][441000 + i] - signal[i];
    }
    EXPECT_LT(20.0 * std::log10(rmsOf(error) / rmsOf(signal)), -20.0);
}

// A checkpoint that throws on one piece's thread, or a read error in one piece, stops every piece; the
// error reaches the caller and neither the output nor a partial file is left. An older output stays
// as it was.
TEST(M4AInPieces, AnInterruptionOrAFaultyPieceLeavesNoFile) {
    const auto wav = writeLongMusic(scratchPath("long.wav"), 30.0);
    const auto m4a = scratchPath("long.m4a");
    std::ofstream(m4a) << "old";
    struct Interrupted {};
    std::atomic<int> calls{0};
    LossyEncodingOptions options = onThreads(4);
    options.checkpoint = [&] {
        if (++calls == 6) throw Interrupted{};
    };
    EXPECT_THROW(encodeLossy(wav, m4a, LossyCodec::aac, options), Interrupted);
    EXPECT_EQ(contentsOf(m4a), "old");
    EXPECT_TRUE(otherFiles(scratchDirectory(), "").empty());

    // A sample that is not a number late in the file fails the piece that reads it, and so the encoding.
    Channels broken(2, sine(440.0, 0.5, 44100, 44100 * 20));
    broken[1][44100 * 17] = std::nanf("");
    const auto bad = scratchPath("broken.wav");
    writeWav(bad, broken, 44100);
    try {
        encodeLossy(bad, m4a, LossyCodec::aac, onThreads(4));
        FAIL() << "a file with a NaN encoded";
    } catch (const Error& error) {
        EXPECT_TRUE(error.is(domains::audioFile, int(AudioFileErrorCode::invalidSamples))) << error.what();
    }
    EXPECT_EQ(contentsOf(m4a), "old");
    EXPECT_TRUE(otherFiles(scratchDirectory(), "").empty());

    // Silence in, silence out, in pieces as serially.
    const auto quiet = scratchPath("quiet.wav");
    writeWav(quiet, Channels(2, silence(44100 * 15)), 44100);
    encodeLossy(quiet, m4a, LossyCodec::aac, onThreads(4));
    const Channels decoded = decodedWithReader(m4a);
    EXPECT_EQ(decoded[0].size(), size_t(44100 * 15));
    EXPECT_EQ(peakOf(decoded[0]), 0.0);
    EXPECT_EQ(peakOf(decoded[1]), 0.0);
}
