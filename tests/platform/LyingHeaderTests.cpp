// Compressed files whose headers claim more audio than they hold, made here from real encodes: the
// reader delivers what decodes, never more, and says when a file ended early; files whose length is
// only an estimate are no truncation.
#include "platform/AudioFileFacts.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "support/DamagedFiles.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 44100;

// Stereo noise: its compressed bytes spread evenly over time, so a file cut at 10 % holds about
// 10 % of the song.
fs::path noiseWav(const std::string& name, double seconds) {
    const fs::path path = scratchPath(name);
    const size_t frames = size_t(rate * seconds);
    writeWav(path, {whiteNoise(0.3, frames, 1), whiteNoise(0.3, frames, 2)}, rate, SampleFormat::pcm16);
    return path;
}

fs::path encoded(const fs::path& wav, const std::string& name, const std::vector<std::string>& codec) {
    const fs::path path = scratchPath(name);
    EXPECT_TRUE(encodeWithFfmpeg(wav, path, codec)) << name;
    return path;
}

fs::path copyOf(const fs::path& file, const std::string& name) {
    const fs::path path = scratchPath(name);
    fs::copy_file(file, path, fs::copy_options::overwrite_existing);
    return path;
}

struct Decoded {
    double seconds = 0;
    bool endedEarly = false;
    std::string note;
};

// Reads the file to its end: every read succeeds, and together they deliver exactly lengthFrames().
Decoded decodeToTheEnd(const fs::path& path) {
    AudioFileReader reader(path);
    AudioBuffer buffer = reader.makeBuffer(65536);
    int64_t frames = 0;
    while (const uint32_t got = reader.read(buffer, 65536)) frames += got;
    EXPECT_EQ(frames, reader.lengthFrames()) << path.filename();
    return {double(frames) / reader.sampleRate(), reader.endedEarly(),
            truncationNote(readAudioFileFacts(path)).value_or("")};
}

} // namespace

TEST(LyingHeaders, CutAndLyingFilesAreAsLongAsTheAudioTheyHold) {
    const fs::path song = noiseWav("song.wav", 8.0);
    const fs::path flac = encoded(song, "song.flac", {"-c:a", "flac"});
    const fs::path mp3 = encoded(song, "song.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"});
    const fs::path ogg = encoded(song, "song.ogg", {"-c:a", "libvorbis"});
    const fs::path opus = encoded(song, "song.opus", {"-c:a", "libopus"});
    for (const fs::path& whole : {flac, mp3, ogg, opus}) {
        const Decoded decoded = decodeToTheEnd(whole);
        EXPECT_NEAR(decoded.seconds, 8.0, 0.06) << whole.filename();
        EXPECT_FALSE(decoded.endedEarly) << whole.filename();
        EXPECT_EQ(decoded.note, "") << whole.filename();
    }

    // Cut at 10 %: about 0.8 s of the 8 s the header states.
    for (const fs::path& whole : {flac, mp3}) {
        const fs::path cut = copyOf(whole, "cut" + whole.extension().string());
        keepLeadingBytes(cut, 0.1);
        const Decoded decoded = decodeToTheEnd(cut);
        EXPECT_GT(decoded.seconds, 0.6) << cut.filename();
        EXPECT_LT(decoded.seconds, 0.9) << cut.filename();
        EXPECT_TRUE(decoded.endedEarly) << cut.filename();
        EXPECT_TRUE(decoded.note.starts_with("truncated: 0.")) << decoded.note;
        EXPECT_TRUE(decoded.note.ends_with(" of 8.0 s decoded")) << decoded.note;
    }

    // A FLAC whose stream info claims four times its frames: all of its audio, and no more.
    const fs::path claimsMore = copyOf(flac, "claims-more.flac");
    claimFlacFrames(claimsMore, uint64_t(rate * 32));
    const Decoded overclaimed = decodeToTheEnd(claimsMore);
    EXPECT_NEAR(overclaimed.seconds, 8.0, 1e-9);
    EXPECT_EQ(overclaimed.note, "truncated: 8.0 s of 32.0 s decoded");

    // A 25 KB MP3 whose Xing header claims two hours.
    const fs::path shortSong = noiseWav("short.wav", 1.5);
    const fs::path liar = encoded(shortSong, "two-hours.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"});
    ASSERT_TRUE(claimMp3Frames(liar, uint32_t(7200 * rate / 1152)));
    EXPECT_LT(fs::file_size(liar), 30000u);
    const Decoded lying = decodeToTheEnd(liar);
    EXPECT_LT(lying.seconds, 1.6);
    EXPECT_GT(lying.seconds, 1.4);
    EXPECT_TRUE(lying.note.ends_with(" of 7200.0 s decoded")) << lying.note;

    // Ogg and Opus missing their last 1 %: the stream's end is gone, so its length is unknown.
    for (const fs::path& whole : {ogg, opus}) {
        const fs::path cut = copyOf(whole, "cut" + whole.extension().string());
        keepLeadingBytes(cut, 0.99);
        const Decoded decoded = decodeToTheEnd(cut);
        EXPECT_GT(decoded.seconds, 6.5) << cut.filename();
        EXPECT_LT(decoded.seconds, 8.0) << cut.filename();
        EXPECT_TRUE(decoded.endedEarly) << cut.filename();
        EXPECT_TRUE(decoded.note.starts_with("truncated: ")) << decoded.note;
        EXPECT_TRUE(decoded.note.ends_with(" s decoded")) << decoded.note;
    }
}

TEST(LyingHeaders, EstimatedLengthsOfWholeFilesAreNoTruncation) {
    // An MP2 and an MP3 without a Xing header carry no frame count: the decoder's estimate from
    // the file's size is a little off, and the length is what decodes.
    const fs::path song = noiseWav("estimated.wav", 8.0);
    const fs::path mp2 = encoded(song, "song.mp2", {"-c:a", "mp2"});
    const fs::path noXing = encoded(song, "no-xing.mp3", {"-c:a", "libmp3lame", "-write_xing", "0"});
    for (const fs::path& file : {mp2, noXing}) {
        const Decoded decoded = decodeToTheEnd(file);
        EXPECT_NEAR(decoded.seconds, 8.0, 0.1) << file.filename();
        EXPECT_FALSE(decoded.endedEarly) << file.filename();
    }
}
