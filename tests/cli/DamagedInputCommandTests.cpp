// The command line with input that claims more than it holds, and with levels no song has: every
// command uses the audio that decodes and says when the file ended early; a gain no song needs is
// bounded, with the reason.
#include "support/CommandRunner.h"
#include "support/DamagedFiles.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 44100;

fs::path encodedMusic(const std::string& name, double seconds, const std::vector<std::string>& codec) {
    const fs::path wav = writeMusic(scratchPath(name + ".wav"), seconds, -6.0);
    const fs::path path = scratchPath(name);
    EXPECT_TRUE(encodeWithFfmpeg(wav, path, codec)) << name;
    return path;
}

bool anyNoteHas(const nlohmann::json& report, const std::string& text) {
    for (const auto& note : report.value("notes", nlohmann::json::array()))
        if (note.get<std::string>().find(text) != std::string::npos) return true;
    return false;
}

} // namespace

TEST(DamagedInputCommand, AnMp3ClaimingTwoHoursIsMasteredAsFarAsItGoes) {
    const fs::path liar = encodedMusic("two-hours.mp3", 1.5, {"-c:a", "libmp3lame", "-b:a", "128k"});
    ASSERT_TRUE(claimMp3Frames(liar, uint32_t(7200 * rate / 1152)));
    const fs::path output = scratchPath("two-hours (MASTER).wav");
    const auto run = runCli({"master", liar.string(), "-o", output.string(), "--json"});
    ASSERT_EQ(run.exitStatus, 0) << run.standardError;
    const size_t frames = frameCountOf(output);
    EXPECT_GT(frames, size_t(rate * 1.4));
    EXPECT_LT(frames, size_t(rate * 1.6)) << "no silence after the audio";
    const auto report = nlohmann::json::parse(run.standardOutput);
    EXPECT_TRUE(anyNoteHas(report, " of 7200.0 s decoded")) << run.standardOutput;

    const auto text = runCli({"master", liar.string(), "-o", output.string()});
    EXPECT_NE(text.standardOutput.find("Note:   truncated: 1."), std::string::npos) << text.standardOutput;

    const auto analysis = runCli({"analyze", liar.string(), "--json"});
    ASSERT_EQ(analysis.exitStatus, 0) << analysis.standardError;
    const auto analysed = nlohmann::json::parse(analysis.standardOutput);
    EXPECT_LT(analysed["analysisDetails"]["duration"].get<double>(), 1.6);
    EXPECT_TRUE(anyNoteHas(analysed, "truncated: ")) << analysis.standardOutput;
}

TEST(DamagedInputCommand, CutOggAndValidMpegFilesAreMeasuredAndAnalysed) {
    // Ogg and Opus missing their last 1 %: measured, and called truncated, not "too long".
    for (const auto& [name, codec] : {std::pair{"cut.ogg", "libvorbis"}, std::pair{"cut.opus", "libopus"}}) {
        const fs::path cut = encodedMusic(name, 6.0, {"-c:a", codec});
        keepLeadingBytes(cut, 0.99);
        const auto measured = runCli({"measure", cut.string()});
        ASSERT_EQ(measured.exitStatus, 0) << name << ": " << measured.standardError;
        EXPECT_NE(measured.standardOutput.find("Note:  truncated: "), std::string::npos) << measured.standardOutput;
        const auto json = runCli({"measure", cut.string(), "--json"});
        EXPECT_TRUE(anyNoteHas(nlohmann::json::parse(json.standardOutput), "truncated: ")) << json.standardOutput;
    }
    // An MP2 and an MP3 without a Xing header state no exact length: analyze takes them as measure does.
    const std::vector<std::pair<std::string, std::vector<std::string>>> estimated = {
        {"song.mp2", {"-c:a", "mp2"}}, {"no-xing.mp3", {"-c:a", "libmp3lame", "-write_xing", "0"}}};
    for (const auto& [name, codec] : estimated) {
        const fs::path file = encodedMusic(name, 6.0, codec);
        const auto analysis = runCli({"analyze", file.string(), "--json"});
        ASSERT_EQ(analysis.exitStatus, 0) << name << ": " << analysis.standardError;
        const auto report = nlohmann::json::parse(analysis.standardOutput);
        EXPECT_NEAR(report["analysisDetails"]["duration"].get<double>(), 6.0, 0.1) << name;
        EXPECT_FALSE(report.contains("notes")) << name;
    }
}

TEST(DamagedInputCommand, SparseClicksStopAtTheGainBoundAndSayWhy) {
    std::vector<float> clicks(size_t(rate * 12), 0.0f);
    for (size_t i = size_t(rate / 2); i < clicks.size(); i += size_t(rate * 2)) clicks[i] = 1.0f;
    const fs::path input = scratchPath("clicks.wav");
    writeWav(input, {clicks, clicks}, rate);
    const fs::path output = scratchPath("clicks (MASTER).wav");
    const auto run = runCli({"master", input.string(), "-o", output.string(), "--preset", "Extra Loud", "--json"});
    ASSERT_EQ(run.exitStatus, 0) << run.standardError;
    const auto report = nlohmann::json::parse(run.standardOutput);
    EXPECT_FALSE(report["target_reached"].get<bool>());
    ASSERT_TRUE(report.contains("gain_limit_db")) << run.standardOutput;
    EXPECT_LE(report["gain_db"].get<double>(), report["gain_limit_db"].get<double>() + 0.05);
    EXPECT_TRUE(anyNoteHas(report, "no song needs that much")) << run.standardOutput;
}
