// Peak memory of a whole master, measured from outside: `orvanta-cli master` runs as a child process
// and its largest resident set comes from wait4(). Cases and limits:
//   - a 15-minute 48 kHz stereo song, to a 24-bit WAV and to an M4A: under 150 MB each;
//   - a 10-minute 192 kHz 8-channel song: under 1 GiB.
// The engine streams every file in blocks, so its memory does not grow with the song's length
// beyond a few bytes per 50 ms of loudness bookkeeping. The 192 kHz case is therefore measured at 1
// and at 2 minutes and extrapolated linearly to 10: a 10-minute run would need about 14 GB of
// temporary files (a 16-bit input of 1.8 GB, the 3.7 GB float phase-compensated source, pass files,
// master and output of 2.8 GB each). `--full` runs the real 10 minutes as well. Inputs are 16-bit
// (192 kHz) and 24-bit (48 kHz) WAVs of the demo song looped, written into a scratch folder under
// the private temporary directory and removed at exit. Exits 1 when a limit is exceeded. Google
// Benchmark's arguments (bench.sh passes them) are ignored.
#include "demo/DemoSong.h"
#include "platform/AudioBuffer.h"
#include "platform/AudioFileWriter.h"
#include "platform/TemporaryDirectory.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

using namespace orvanta;
namespace fs = std::filesystem;

constexpr double megabyte = 1024.0 * 1024.0;

// A scratch folder for one benchmark process, removed with everything in it at exit.
class ScratchFolder {
public:
    ScratchFolder() : path_(privateTemporaryDirectory() / ("bench-memory-" + std::to_string(::getpid()))) {
        fs::create_directories(path_ / "tmp");
        fs::create_directories(path_ / "config");
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const noexcept { return path_; }

private:
    fs::path path_;
};

// The demo song, synthesized once for a rate (20 s) and looped to `seconds` into a WAV of `channels`
// channels: each channel is the left or right of the song at its own level, so that the channels
// differ as in a real multichannel mix. Written a block at a time.
void writeLoopedSong(const fs::path& path, double sampleRate, uint32_t channels, double seconds, int bitDepth) {
    demo::DemoSongParameters parameters;
    parameters.sampleRate = sampleRate;
    parameters.durationSeconds = 20.0;
    const demo::DemoSong song = demo::synthesizeDemoSong(parameters);
    const size_t loop = song.left.size();

    AudioFileWriter writer(path, AudioFormat{sampleRate, channels}, bitDepth);
    constexpr uint32_t blockFrames = 1u << 16;
    AudioBuffer block(AudioFormat{sampleRate, channels}, blockFrames);
    const auto total = int64_t(seconds * sampleRate);
    for (int64_t done = 0; done < total;) {
        const auto n = uint32_t(std::min<int64_t>(blockFrames, total - done));
        block.setFrameLength(n);
        for (uint32_t c = 0; c < channels; ++c) {
            const std::vector<float>& source = c % 2 == 0 ? song.left : song.right;
            const float level = 1.0f - 0.08f * float(c / 2);
            float* out = block.channel(c);
            for (uint32_t i = 0; i < n; ++i) out[i] = level * source[size_t(done + i) % loop];
        }
        writer.write(block);
        done += n;
    }
    writer.close();
}

// The orvanta-cli beside this benchmark in the build's bin folder.
fs::path commandLineTool() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "orvanta-cli";
}

// Runs `orvanta-cli master INPUT -o OUTPUT [extra]` with its own temporary and preference folders and
// returns its peak resident set in bytes. Throws when it does not exit with 0.
double masterPeakResidentBytes(const ScratchFolder& scratch, const fs::path& input, const fs::path& output,
                               const std::vector<std::string>& extra) {
    std::vector<std::string> args = {commandLineTool().string(), "master", input.string(), "-o", output.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    std::vector<std::string> variables = {"ORVANTA_TEMP_DIR=" + (scratch.path() / "tmp").string(),
                                          "ORVANTA_CONFIG_DIR=" + (scratch.path() / "config").string(),
                                          "QT_QPA_PLATFORM=offscreen"};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (variable.rfind("ORVANTA_TEMP_DIR=", 0) != 0 && variable.rfind("ORVANTA_CONFIG_DIR=", 0) != 0)
            variables.push_back(variable);
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(spawned));
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("lost the child process");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("orvanta-cli master failed");
    std::error_code ec;
    fs::remove(output, ec);
    return double(usage.ru_maxrss) * 1024.0; // kilobytes on Linux
}

struct Verdict {
    bool withinLimits = true;

    void report(const char* name, double bytes, double limitBytes, const char* note = "") {
        const bool ok = bytes < limitBytes;
        withinLimits = withinLimits && ok;
        std::printf("%-44s %8.1f MB   limit %6.0f MB   %s%s\n", name, bytes / megabyte, limitBytes / megabyte,
                    ok ? "ok" : "OVER", note);
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char** argv) {
    const bool full = std::any_of(argv + 1, argv + argc, [](const char* arg) { return std::strcmp(arg, "--full") == 0; });
    try {
        const ScratchFolder scratch;
        Verdict verdict;
        std::printf("Peak resident memory of orvanta-cli master (child process, wait4)\n");

        {
            const fs::path song = scratch.path() / "song-48k-stereo-15min.wav";
            writeLoopedSong(song, 48000.0, 2, 15 * 60.0, 24);
            verdict.report("15 min, 48 kHz stereo -> 24-bit WAV",
                           masterPeakResidentBytes(scratch, song, scratch.path() / "out.wav", {}), 150 * megabyte);
            verdict.report("15 min, 48 kHz stereo -> M4A",
                           masterPeakResidentBytes(scratch, song, scratch.path() / "out.m4a", {"--format", "m4a"}),
                           150 * megabyte);
        }
        {
            double atMinutes[2] = {};
            for (int minutes : {1, 2}) {
                const fs::path song = scratch.path() / "song-192k-8ch.wav";
                writeLoopedSong(song, 192000.0, 8, minutes * 60.0, 16);
                atMinutes[minutes - 1] = masterPeakResidentBytes(scratch, song, scratch.path() / "out.wav", {});
                fs::remove(song);
                const std::string name = std::to_string(minutes) + " min, 192 kHz 8 channels -> 24-bit WAV";
                verdict.report(name.c_str(), atMinutes[minutes - 1], 1024 * megabyte);
            }
            // Growth per minute from the two runs (never taken as negative), carried on to 10 minutes.
            const double perMinute = std::max(atMinutes[1] - atMinutes[0], 0.0);
            verdict.report("10 min, 192 kHz 8 channels (extrapolated)", atMinutes[1] + 8.0 * perMinute,
                           1024 * megabyte, "   from the 1 and 2 minute runs");
            if (full) {
                const fs::path song = scratch.path() / "song-192k-8ch-10min.wav";
                writeLoopedSong(song, 192000.0, 8, 10 * 60.0, 16);
                verdict.report("10 min, 192 kHz 8 channels -> 24-bit WAV",
                               masterPeakResidentBytes(scratch, song, scratch.path() / "out.wav", {}),
                               1024 * megabyte);
            }
        }
        return verdict.withinLimits ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_memory: %s\n", error.what());
        return 1;
    }
}
