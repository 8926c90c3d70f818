#pragma once
// Programs the benchmarks compare against (ffmpeg), run as child processes.

#include <filesystem>
#include <string>
#include <vector>

namespace orvanta::bench {

// Runs a program found on PATH with stdin and stdout on /dev/null; returns its standard error (also
// left in `errorFile`), and adds its CPU time (user + system, s) to `cpu` when given. Throws
// std::runtime_error when it cannot start or does not exit with 0.
std::string run(const std::vector<std::string>& args, const std::filesystem::path& errorFile, double* cpu = nullptr);

// CPU time of this process so far, all its threads, user + system (s).
double ownCpuSeconds();

// Whether the ffmpeg program runs.
bool ffmpegAvailable(const std::filesystem::path& errorFile);

} // namespace orvanta::bench
