// Batch mastering against the same files mastered one after another, side by side in one run on the
// same shared machine: 16 synthesized songs (the corpus styles, 4 to 60 s, 44.1 kHz stereo) through
//   - 16 runs of `orvanta-cli master IN -o OUT`, one after another;
//   - one `orvanta-cli master IN... -o FOLDER --jobs 2`.
// Target: the batch takes at most 0.55 times as long. As a peer, ffmpeg's EBU R128 meter (loudness and
// true peak, the measuring half of a master) reads the same 16 files one after another and two at a
// time: its ratio shows what the machine gave two-way work during this run (other builds compete for
// the cores). With every core already busy, Linux shares the CPU between sessions (autogroups), not
// processes, so two runs at a time get no more CPU than one: a peer ratio near 1 says the run could
// not show the batch's gain. The load average is printed before and after. Rounds alternate so that every variant sees
// the same load; prints every round, the best of each and the ratios, and the CPU time (user + system,
// from wait4) of both variants, which the load hardly moves.
// Memory: the batch's whole process tree (the batch and its runs) is sampled every 20 ms from /proc;
// its peak is compared with the largest single run's (wait4), so it shows that memory follows the
// number of jobs, not the number of files. Exits 1 when the best batch ratio is above 0.55. Google
// Benchmark's arguments (bench.sh passes them) are ignored.
#include "CorpusSongs.h"
#include "IsolatedEnvironment.h"
#include "platform/AudioBuffer.h"
#include "platform/AudioFileWriter.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace orvanta;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const bench::IsolatedEnvironment environment("Batch");

constexpr int songCount = 16;
constexpr int rounds = 3;
constexpr double targetRatio = 0.55;
constexpr double sampleRate = 44100.0;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Song i: a corpus style, 4 s plus 3.7 s per index (up to 59.5 s), peaks at -6 dBFS, 16-bit WAV.
std::vector<fs::path> writeSongs(const fs::path& folder) {
    const std::vector<bench::SongStyle> styles = bench::corpusStyles();
    std::vector<fs::path> songs;
    for (int i = 0; i < songCount; ++i) {
        bench::SongStyle style = styles[size_t(i) % styles.size()];
        style.seconds = 4.0 + 3.7 * i;
        style.seed = uint32_t(100 + i);
        bench::StereoSong song = bench::synthesizeSong(style, sampleRate);
        float peak = 1e-9f;
        for (const float x : song.left) peak = std::max(peak, std::fabs(x));
        for (const float x : song.right) peak = std::max(peak, std::fabs(x));
        const float scale = 0.5f / peak;
        for (float& x : song.left) x *= scale;
        for (float& x : song.right) x *= scale;
        const fs::path path = folder / ("song " + std::to_string(i + 1) + " " + style.name + ".wav");
        AudioFileWriter writer(path, AudioFormat{sampleRate, 2}, 16);
        const float* channels[2] = {song.left.data(), song.right.data()};
        writer.write(channels, uint32_t(song.left.size()));
        writer.close();
        songs.push_back(path);
    }
    return songs;
}

fs::path commandLineTool() { return fs::read_symlink("/proc/self/exe").parent_path() / "orvanta-cli"; }

pid_t start(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(spawned));
    return pid;
}

// User plus system CPU time of a process and the children it waited for, seconds.
double cpuSeconds(const rusage& usage) {
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Waits for `pid`; returns its peak resident set (kB, the largest of it and the children it waited
// for) and its CPU time with theirs (s). Throws when it did not exit with 0.
std::pair<long, double> finish(pid_t pid, const std::string& name) {
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("lost " + name);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(name + " failed");
    return {usage.ru_maxrss, cpuSeconds(usage)};
}

struct Timing {
    double seconds = 0;    // wall
    long largestKb = 0;    // the largest peak resident set of any command
    double cpuSeconds = 0; // user + system of all of them
};

// Runs the commands, at most `atOnce` at a time.
Timing runAll(const std::vector<std::vector<std::string>>& commands, size_t atOnce) {
    const auto started = Clock::now();
    long largest = 0;
    double cpu = 0;
    std::vector<pid_t> running;
    size_t next = 0;
    while (next < commands.size() || !running.empty()) {
        while (running.size() < atOnce && next < commands.size()) running.push_back(start(commands[next++]));
        int status = 0;
        rusage usage{};
        const pid_t done = ::wait4(-1, &status, 0, &usage);
        if (done < 0) throw std::runtime_error("lost a child process");
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("a run failed");
        largest = std::max(largest, usage.ru_maxrss);
        cpu += cpuSeconds(usage);
        running.erase(std::remove(running.begin(), running.end(), done), running.end());
    }
    return {secondsSince(started), largest, cpu};
}

long residentKb(pid_t pid) {
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    long size = 0, resident = 0;
    if (!(statm >> size >> resident)) return 0;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// The resident set of `pid` and all its descendants now (kB).
long treeResidentKb(pid_t pid) {
    long total = residentKb(pid);
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    for (pid_t child = 0; children >> child;) total += treeResidentKb(child);
    return total;
}

struct SampledRun {
    double seconds = 0;
    long treePeakKb = 0;   // the batch and its runs together
    long parentPeakKb = 0; // the batch process alone
    double cpuSeconds = 0; // user + system of the batch and its runs
};

// Runs one command while sampling its process tree's resident set.
SampledRun runSampled(const std::vector<std::string>& command) {
    const auto started = Clock::now();
    const pid_t pid = start(command);
    std::atomic<bool> done{false};
    SampledRun run;
    std::thread sampler([&] {
        while (!done.load()) {
            run.treePeakKb = std::max(run.treePeakKb, treeResidentKb(pid));
            run.parentPeakKb = std::max(run.parentPeakKb, residentKb(pid));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    try {
        run.cpuSeconds = finish(pid, "the batch").second;
    } catch (...) {
        done = true;
        sampler.join();
        throw;
    }
    run.seconds = secondsSince(started);
    done = true;
    sampler.join();
    return run;
}

void clear(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
}

bool haveFfmpeg() { return fs::exists("/usr/bin/ffmpeg"); }

} // namespace

int main() {
    try {
        const fs::path songsFolder = environment.songsDirectory();
        const fs::path out = songsFolder / "out";
        const std::vector<fs::path> songs = writeSongs(songsFolder);
        const std::string tool = commandLineTool().string();

        std::vector<std::vector<std::string>> oneByOne, ffmpegRuns;
        std::vector<std::string> batch{tool, "master"};
        for (const fs::path& song : songs) {
            oneByOne.push_back({tool, "master", song.string(), "-o", (out / song.filename()).string()});
            ffmpegRuns.push_back({"/usr/bin/ffmpeg", "-v", "error", "-nostdin", "-i", song.string(), "-af",
                                  "ebur128=peak=true", "-f", "null", "-"});
            batch.push_back(song.string());
        }
        batch.insert(batch.end(), {"-o", out.string(), "--jobs", "2"});

        double load[1] = {0};
        ::getloadavg(load, 1);
        std::printf("load average %.1f\n", load[0]);
        std::printf("16 songs (4 to 60 s, 44.1 kHz stereo, %.0f s in all) on %u cores, %d rounds\n",
                    [&] { double s = 0; for (int i = 0; i < songCount; ++i) s += 4.0 + 3.7 * i; return s; }(),
                    std::thread::hardware_concurrency(), rounds);
        std::printf("%-6s %14s %14s %8s %14s %14s %8s %10s %10s\n", "round", "one-by-one s", "--jobs 2 s", "ratio",
                    "ffmpeg 1 s", "ffmpeg 2 s", "ratio", "cpu 1by1", "cpu batch");
        double bestOneByOne = 1e9, bestBatch = 1e9, bestFfmpeg1 = 1e9, bestFfmpeg2 = 1e9;
        double leastCpuOneByOne = 1e9, leastCpuBatch = 1e9;
        long largestRun = 0, batchTreePeak = 0, batchParentPeak = 0;
        for (int round = 1; round <= rounds; ++round) {
            clear(out);
            const Timing sequentialRuns = runAll(oneByOne, 1);
            const double sequential = sequentialRuns.seconds;
            const long runPeak = sequentialRuns.largestKb;
            clear(out);
            const SampledRun batchRun = runSampled(batch);
            const double together = batchRun.seconds;
            double ffmpeg1 = std::nan(""), ffmpeg2 = std::nan("");
            if (haveFfmpeg()) {
                clear(out);
                ffmpeg1 = runAll(ffmpegRuns, 1).seconds;
                clear(out);
                ffmpeg2 = runAll(ffmpegRuns, 2).seconds;
                bestFfmpeg1 = std::min(bestFfmpeg1, ffmpeg1);
                bestFfmpeg2 = std::min(bestFfmpeg2, ffmpeg2);
            }
            bestOneByOne = std::min(bestOneByOne, sequential);
            bestBatch = std::min(bestBatch, together);
            largestRun = std::max(largestRun, runPeak);
            batchTreePeak = std::max(batchTreePeak, batchRun.treePeakKb);
            batchParentPeak = std::max(batchParentPeak, batchRun.parentPeakKb);
            leastCpuOneByOne = std::min(leastCpuOneByOne, sequentialRuns.cpuSeconds);
            leastCpuBatch = std::min(leastCpuBatch, batchRun.cpuSeconds);
            std::printf("%-6d %14.2f %14.2f %8.2f %14.2f %14.2f %8.2f %10.2f %10.2f\n", round, sequential, together,
                        together / sequential, ffmpeg1, ffmpeg2, ffmpeg2 / ffmpeg1, sequentialRuns.cpuSeconds,
                        batchRun.cpuSeconds);
            std::fflush(stdout);
        }
        const double ratio = bestBatch / bestOneByOne;
        std::printf("%-6s %14.2f %14.2f %8.2f %14.2f %14.2f %8.2f %10.2f %10.2f\n", "best", bestOneByOne, bestBatch,
                    ratio, bestFfmpeg1, bestFfmpeg2, bestFfmpeg2 / bestFfmpeg1, leastCpuOneByOne, leastCpuBatch);
        // CPU time hardly depends on what else the machine runs: on a loaded machine it tells what the
        // wall times cannot.
        std::printf("CPU seconds (user + system), least of the rounds: one-by-one %.2f, batch %.2f (%.2f per file)\n",
                    leastCpuOneByOne, leastCpuBatch, leastCpuBatch / songCount);
        std::printf("batch --jobs 2 / one-by-one: %.2f (target <= %.2f) %s\n", ratio, targetRatio,
                    ratio <= targetRatio ? "ok" : "OVER");
        // Shared library pages count in every process's resident set, so the tree's sum is an upper bound.
        std::printf("peak resident memory: largest single run %.1f MB; batch (--jobs 2) tree %.1f MB, of which the "
                    "batch process %.1f MB: tree = batch process + %.2f runs\n",
                    largestRun / 1024.0, batchTreePeak / 1024.0, batchParentPeak / 1024.0,
                    double(batchTreePeak - batchParentPeak) / double(largestRun));
        ::getloadavg(load, 1);
        std::printf("load average %.1f\n", load[0]);
        return ratio <= targetRatio ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_batch: %s\n", error.what());
        return 1;
    }
}
