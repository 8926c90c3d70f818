// What the streaming services will do to a file, from `measure --json` and `master --json` on real
// files: known loudness and true peak in, known gains out; the BS.1770 figure against libebur128.
#include "support/CommandRunner.h"
#include "support/Ebur128Reference.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <map>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;

// A 1 kHz stereo sine reads its amplitude in dB − 0.5 on this meter (BS.1770's K-filter gain at 1 kHz
// cancels its −0.691 offset, the two channels add 3 dB to the −3 dB of one).
std::vector<float> sineAtMeterLoudness(double meterLufs, size_t frames) {
    return sine(1000.0, std::pow(10.0, (meterLufs + 0.5) / 20.0), rate, frames);
}

std::map<std::string, nlohmann::json> byService(const nlohmann::json& streaming) {
    std::map<std::string, nlohmann::json> services;
    for (const auto& entry : streaming) services[entry.at("service").get<std::string>()] = entry;
    return services;
}

nlohmann::json measureJson(const fs::path& file) {
    const auto result = runCli({"measure", file.string(), "--json"});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    return nlohmann::json::parse(result.standardOutput);
}

} // namespace

// A master at −8 LUFS on this meter is −7.5 LUFS on BS.1770: the −14 LUFS services turn it down by 6.5 dB
// and it plays at their reference; the turn-down of more than 3 dB shows as such in the text report.
TEST(StreamingPreview, ALoudMasterIsTurnedDownToEachReference) {
    const fs::path input = scratchPath("at minus 8.wav");
    const Channels song = replicate(sineAtMeterLoudness(-8.0, size_t(rate * 12)), 2);
    writeWav(input, song, rate);
    const fs::path output = scratchPath("at minus 8 master.wav");
    const auto result = runCli({"master", input.string(), "--target", "-8", "-o", output.string(), "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const auto object = nlohmann::json::parse(result.standardOutput);

    const double measured = object["output"]["lufs"].get<double>();
    ASSERT_NEAR(measured, -8.0, 0.05) << "a sine at the target passes unchanged";
    const double bs1770 = object["output"]["lufs_bs1770"].get<double>();
    EXPECT_NEAR(bs1770, ebur128Loudness(readWithSndfile(output), rate), 0.05);
    EXPECT_NEAR(bs1770 - measured, 0.5, 1e-4);

    const auto services = byService(object["streaming"]);
    ASSERT_EQ(services.size(), 6u);
    for (const auto& [name, expected] : std::map<std::string, std::pair<double, double>>{
             {"Spotify", {-14.0, -6.5}}, {"YouTube", {-14.0, -6.5}}, {"Tidal", {-14.0, -6.5}},
             {"Amazon Music", {-14.0, -6.5}}, {"Apple Music", {-16.0, -8.5}}, {"Deezer", {-15.0, -7.5}}}) {
        const auto& entry = services.at(name);
        EXPECT_EQ(entry["reference_lufs"].get<double>(), expected.first) << name;
        EXPECT_NEAR(entry["gain_db"].get<double>(), expected.second, 0.05) << name;
        EXPECT_NEAR(entry["plays_at_lufs"].get<double>(), expected.first, 1e-9) << name;
    }

    const auto text = runCli({"master", input.string(), "--target", "-8", "-o", output.string()});
    ASSERT_EQ(text.exitStatus, 0) << text.standardError;
    EXPECT_NE(text.standardOutput.find("Streaming (BS.1770 loudness -7.5 LUFS"), std::string::npos) << text.standardOutput;
    EXPECT_NE(text.standardOutput.find("Spotify       -14.0 LUFS  -6.5 dB"), std::string::npos)
        << text.standardOutput;
    EXPECT_NE(text.standardOutput.find("! YouTube turns it down by more than 3 dB"), std::string::npos);
    EXPECT_NE(text.standardOutput.find("? YouTube publishes no reference level"), std::string::npos)
        << "an uncertain rule says so";
}

// A quiet file at −20 LUFS with a −3 dBTP peak: Spotify raises it only until the peak meets −1 dBTP,
// exactly 2 dB; YouTube and Tidal never raise. A peak already past −1 dBTP gets no raise at all.
TEST(StreamingPreview, AQuietFileIsRaisedOnlyAsFarAsItsPeakAllows) {
    // A steady sine with one smooth (Hann-shaped) 1 kHz swell to −3 dBTP, on sample-aligned crests.
    const size_t frames = size_t(rate * 15);
    std::vector<float> signal = sineAtMeterLoudness(-20.0, frames);
    const size_t swell = size_t(rate * 0.05), start = size_t(rate * 7);
    const double peak = std::pow(10.0, -3.0 / 20.0), steady = std::pow(10.0, -19.5 / 20.0);
    for (size_t i = 0; i < swell; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(swell - 1));
        signal[start + i] = float((steady + (peak - steady) * window) * std::sin(2.0 * M_PI * 1000.0 * double(start + i) / rate));
    }
    const fs::path file = scratchPath("quiet with a peak.wav");
    const Channels song = replicate(signal, 2);
    writeWav(file, song, rate);
    ASSERT_NEAR(ebur128TruePeakDb(song, rate), -3.0, 0.01);

    const auto object = measureJson(file);
    EXPECT_NEAR(object["lufs"].get<double>(), -20.0, 0.3) << "the swell adds a little";
    EXPECT_NEAR(object["lufs_bs1770"].get<double>(), ebur128Loudness(song, rate), 0.05);
    const auto services = byService(object["streaming"]);
    EXPECT_NEAR(services.at("Spotify")["gain_db"].get<double>(), 2.0, 0.02);
    EXPECT_NEAR(services.at("Spotify")["plays_at_lufs"].get<double>(), object["lufs_bs1770"].get<double>() + 2.0, 0.02);
    EXPECT_EQ(services.at("YouTube")["gain_db"].get<double>(), 0.0);
    EXPECT_EQ(services.at("Tidal")["gain_db"].get<double>(), 0.0);

    // Raised further, the same swell reaches −0.5 dBTP: no service raises it.
    for (float& sample : signal) sample *= float(std::pow(10.0, 2.5 / 20.0));
    const fs::path hot = scratchPath("quiet with a hot peak.wav");
    writeWav(hot, replicate(signal, 2), rate);
    const auto hotObject = measureJson(hot);
    for (const auto& entry : hotObject["streaming"]) {
        EXPECT_LE(entry["gain_db"].get<double>(), 0.0) << entry["service"];
    }
}

// Silence has no loudness to normalise: no figure, no preview.
TEST(StreamingPreview, SilenceHasNoPreview) {
    const fs::path file = scratchPath("silence.wav");
    writeWav(file, replicate(silence(size_t(rate * 2)), 2), rate);
    const auto object = measureJson(file);
    EXPECT_TRUE(object["lufs_bs1770"].is_null());
    EXPECT_TRUE(object["streaming"].empty());
}
