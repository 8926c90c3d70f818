// Surround loudness by channel position, checked against libebur128 with its channel map and FFmpeg's
// ebur128 filter, and masters that keep the input's layout.
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"
#include "support/VectorState.h"

#include <ebur128.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include <regex>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

// Six channels of different noise at different levels: a loud LFE and quiet surrounds, so that a
// wrong weight for any channel moves the figure.
Channels surroundNoise(double rate, double seconds) {
    const double levels[6] = {0.10, 0.10, 0.20, 0.50, 0.05, 0.05};
    Channels channels;
    for (uint32_t c = 0; c < 6; ++c) channels.push_back(whiteNoise(levels[c], size_t(rate * seconds), c + 1));
    return channels;
}

// A WAVE_FORMAT_EXTENSIBLE file with libsndfile's channel map `map`.
void writeWithMap(const fs::path& path, const Channels& channels, double rate, const std::vector<int>& map) {
    SF_INFO info{};
    info.samplerate = int(rate);
    info.channels = int(channels.size());
    info.format = SF_FORMAT_WAVEX | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_command(file, SFC_SET_CHANNEL_MAP_INFO, const_cast<int*>(map.data()), int(map.size() * sizeof(int)));
    std::vector<float> interleaved(channels.size() * channels[0].size());
    for (size_t i = 0; i < channels[0].size(); ++i)
        for (size_t c = 0; c < channels.size(); ++c) interleaved[i * channels.size() + c] = channels[c][i];
    sf_writef_float(file, interleaved.data(), sf_count_t(channels[0].size()));
    sf_close(file);
}

std::vector<int> channelMapOf(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<int> map(size_t(info.channels), 0);
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(), int(map.size() * sizeof(int))) != SF_TRUE) map.clear();
    sf_close(file);
    return map;
}

double ebur128WithMap(const Channels& channels, double rate, const std::vector<int>& positions) {
    releaseVectorUpperHalves();
    ebur128_state* state = ebur128_init(unsigned(channels.size()), static_cast<unsigned long>(rate), EBUR128_MODE_I);
    for (size_t c = 0; c < positions.size(); ++c) ebur128_set_channel(state, unsigned(c), positions[c]);
    std::vector<float> interleaved(channels.size() * channels[0].size());
    for (size_t i = 0; i < channels[0].size(); ++i)
        for (size_t c = 0; c < channels.size(); ++c) interleaved[i * channels.size() + c] = channels[c][i];
    ebur128_add_frames_float(state, interleaved.data(), channels[0].size());
    double loudness = 0;
    ebur128_loudness_global(state, &loudness);
    ebur128_destroy(&state);
    return loudness;
}

double measuredLufs(const fs::path& path) {
    const auto result = runCli({"measure", path.string(), "--json"});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    return nlohmann::json::parse(result.standardOutput).at("lufs").get<double>();
}

// FFmpeg's ebur128 filter's integrated loudness (one decimal), NaN when ffmpeg cannot run.
double ffmpegLufs(const fs::path& path) {
    const auto result = runProgram("/usr/bin/ffmpeg", {"-nostats", "-hide_banner", "-i", path.string(), "-af",
                                                       "ebur128", "-f", "null", "-"});
    std::smatch match;
    const std::regex integrated(R"(I:\s+(-?[0-9.]+) LUFS)");
    std::string text = result.standardError;
    double last = std::nan("");
    for (std::sregex_iterator it(text.begin(), text.end(), integrated), end; it != end; ++it)
        last = std::stod((*it)[1]);
    return last;
}

// Every loudness figure of the engine carries −0.5 dB of calibration beside BS.1770.
constexpr double calibrationDb = -0.5;

} // namespace

TEST(SurroundLayout, FiveOneIsWeighedByPositionAndTheMasterKeepsItsLayout) {
    const double rate = 48000.0;
    const Channels channels = surroundNoise(rate, 6.0);
    const fs::path input = scratchPath("surround.wav");
    const std::vector<int> map = {SF_CHANNEL_MAP_LEFT,      SF_CHANNEL_MAP_RIGHT,     SF_CHANNEL_MAP_CENTER,
                                  SF_CHANNEL_MAP_LFE,       SF_CHANNEL_MAP_SIDE_LEFT, SF_CHANNEL_MAP_SIDE_RIGHT};
    writeWithMap(input, channels, rate, map);

    const double reference = ebur128WithMap(
        channels, rate, {EBUR128_LEFT, EBUR128_RIGHT, EBUR128_CENTER, EBUR128_UNUSED, EBUR128_LEFT_SURROUND,
                         EBUR128_RIGHT_SURROUND});
    const double ours = measuredLufs(input);
    EXPECT_NEAR(ours - calibrationDb, reference, 0.1);
    const double ffmpeg = ffmpegLufs(input);
    if (!std::isnan(ffmpeg)) EXPECT_NEAR(ours - calibrationDb, ffmpeg, 0.15);

    const fs::path master = scratchPath("surround (MASTER).wav");
    const auto result = runCli({"master", input.string(), "-o", master.string(), "--target", "-14"});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(channelMapOf(master), map);
    const Channels mastered = readWithSndfile(master);
    const double masteredReference = ebur128WithMap(
        mastered, rate, {EBUR128_LEFT, EBUR128_RIGHT, EBUR128_CENTER, EBUR128_UNUSED, EBUR128_LEFT_SURROUND,
                         EBUR128_RIGHT_SURROUND});
    EXPECT_NEAR(masteredReference + calibrationDb, -14.0, 0.5);
}

TEST(SurroundLayout, FilesWithoutALayoutKeepTheOldWeightsAndStayPlainWav) {
    const double rate = 48000.0;
    const Channels channels = surroundNoise(rate, 6.0);
    const fs::path input = scratchPath("six.wav");
    writeWav(input, channels, rate, SampleFormat::pcm24); // plain WAV: no mask
    ASSERT_TRUE(channelMapOf(input).empty());
    const double everyOtherSurround = ebur128WithMap(
        channels, rate, {EBUR128_LEFT, EBUR128_RIGHT, EBUR128_LEFT_SURROUND, EBUR128_LEFT_SURROUND,
                         EBUR128_LEFT_SURROUND, EBUR128_LEFT_SURROUND});
    EXPECT_NEAR(measuredLufs(input) - calibrationDb, everyOtherSurround, 0.1);

    const fs::path master = scratchPath("six (MASTER).wav");
    ASSERT_EQ(runCli({"master", input.string(), "-o", master.string()}).exitStatus, 0);
    EXPECT_TRUE(channelMapOf(master).empty()) << "a layout was invented";
}
