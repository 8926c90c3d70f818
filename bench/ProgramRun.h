#pragma once
// Programs the benchmarks compare against (ffmpeg), run as child processes.

#include <filesystem>
#include <string>
#include <vector>

namespace orvanta::bench {

// Runs a program found on PATH with stdin and stdout on /dev/null; returns its standard error (also
// left in `errorFile`). Throws std::runtime_error when it cannot start or does not exit with 0.
std::string run(const std::vector<std::string>& args, const std::filesystem::path& errorFile);

// Whether the ffmpeg program runs.
bool ffmpegAvailable(const std::filesystem::path& errorFile);

} // namespace orvanta::bench
