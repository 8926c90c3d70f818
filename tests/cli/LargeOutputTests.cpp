// A master whose data passes RIFF's 4 GiB is written as RF64 and reads back whole. The input is a
// sparse WAV (zeros cost no disk) with noise in its middle, 8 channels at 96 kHz: 31 minutes whose
// 24-bit master holds 4.3 GB of samples.
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <regex>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t channels = 8;
constexpr uint32_t rate = 96000;
constexpr uint64_t frames = 180'000'000; // × 8 channels × 3 bytes = 4.32e9 bytes, past 2^32

void putLittle(std::string& bytes, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += char((value >> (8 * i)) & 0xFF);
}

// A 16-bit PCM WAV of `frames` frames of silence but for 20 s of noise in the middle, written
// sparsely: only the header and the noise take disk space.
void writeSparseInput(const fs::path& path) {
    const uint64_t dataBytes = frames * channels * 2;
    std::string header = "RIFF";
    putLittle(header, 36 + dataBytes, 4);
    header += "WAVEfmt ";
    putLittle(header, 16, 4);
    putLittle(header, 1, 2); // PCM
    putLittle(header, channels, 2);
    putLittle(header, rate, 4);
    putLittle(header, uint64_t(rate) * channels * 2, 4);
    putLittle(header, channels * 2, 2);
    putLittle(header, 16, 2);
    header += "data";
    putLittle(header, dataBytes, 4);

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, header.data(), header.size()), ssize_t(header.size()));
    ASSERT_EQ(::ftruncate(fd, off_t(header.size() + dataBytes)), 0);
    const size_t noiseFrames = size_t(rate) * 20;
    const std::vector<float> noise = whiteNoise(0.2, noiseFrames * channels, 7);
    std::vector<int16_t> samples(noise.size());
    for (size_t i = 0; i < noise.size(); ++i) samples[i] = int16_t(noise[i] * 32767.0f);
    const off_t middle = off_t(header.size() + (frames / 2 - noiseFrames / 2) * channels * 2);
    const size_t bytes = samples.size() * sizeof(int16_t);
    ASSERT_EQ(::pwrite(fd, samples.data(), bytes, middle), ssize_t(bytes));
    ::close(fd);
}

} // namespace

TEST(LargeOutput, AMasterPastFourGibIsRf64AndReadsBackWhole) {
    struct statvfs disk {};
    if (::statvfs(scratchDirectory().c_str(), &disk) == 0 && uint64_t(disk.f_bavail) * disk.f_frsize < (20ull << 30))
        GTEST_SKIP() << "needs 20 GB of free disk for the master and its intermediate files";
    const fs::path input = scratchPath("long.wav");
    writeSparseInput(input);
    const fs::path master = scratchPath("long (MASTER).wav");
    RunOptions options;
    options.timeout = std::chrono::seconds(1500);
    const auto result = runCli({"master", input.string(), "-o", master.string(), "--json"}, options);
    fs::remove(input);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;

    SF_INFO info{};
    SNDFILE* file = sf_open(master.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
    EXPECT_EQ(uint64_t(info.frames), frames);
    EXPECT_EQ(info.channels, int(channels));
    // The last second is there, not wrapped away: it reads to the end.
    ASSERT_EQ(sf_seek(file, sf_count_t(frames - rate), SEEK_SET), sf_count_t(frames - rate));
    std::vector<float> last(size_t(rate) * channels);
    EXPECT_EQ(sf_readf_float(file, last.data(), rate), sf_count_t(rate));
    sf_close(file);

    const auto probe = runProgram("/usr/bin/ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of",
                                                       "default=nw=1:nk=1", master.string()});
    fs::remove(master);
    ASSERT_EQ(probe.exitStatus, 0) << probe.standardError;
    EXPECT_NEAR(std::stod(probe.standardOutput), double(frames) / rate, 0.01);
}
