#pragma once
// The input files of the corpus benchmark, written into a scratch folder: the synthesized styles
// and the demo song at chosen loudness, and real music that a Debian package ships, when installed.

#include <filesystem>
#include <string>
#include <vector>

namespace orvanta::bench {

struct CorpusSong {
    std::string name;
    std::filesystem::path path; // 32-bit float WAV
    double bpm = 0.0;           // 0 when unknown
};

// Where the real songs come from: the Fret's on Fire songs by Muldjord (CC BY-SA 3.0), each a
// backing track and a guitar stem of a metal song.
inline const std::filesystem::path realSongFolder = "/usr/share/games/fretsonfire/data/songs/muldjord";

// Writes every song into `folder` and returns them in table order. Real songs are left out (and
// `skipped` says why) when the package is missing.
std::vector<CorpusSong> writeCorpus(const std::filesystem::path& folder, std::string& skipped);

} // namespace orvanta::bench
