#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvanta::cli {

// The order in which an album's songs are tried as the one that sets the album's gain: the loudest
// input first, as it needs the least gain to reach the target (and so leaves every other song under
// the ceiling at that gain); the next one only if it fails. Songs whose loudness is unknown are left
// out; equal loudness keeps the order of the inputs. Pure.
std::vector<std::size_t> albumLeadOrder(const std::vector<std::optional<float>>& inputLufs);

// One song of a finished album.
struct AlbumSong {
    std::string input;
    bool mastered = false;
    double inputLufs = 0.0;  // this meter's loudness of the song as given
    double outputLufs = 0.0; // and of the file written
    double truePeakDbtp = 0.0;
};

// What the album line tells.
struct AlbumSummary {
    std::vector<AlbumSong> songs;   // in the order they ended
    std::optional<double> gainDb;   // none when no song could set it
    std::string setBy;              // the input that set it
};

// The album's line with --json: "album": true, the song counts, "album_gain_db", "set_by", the loudest and
// the quietest song's loudness ("loudest_lufs", "quietest_lufs", of the files written) and their spread
// ("spread_lu"); "failed" counts the songs that were not mastered.
nlohmann::ordered_json albumJson(const AlbumSummary& album);

// The same as a table for the text report: a row per song (input and output loudness, true peak),
// then the album's gain, spread and failures.
std::string albumText(const AlbumSummary& album);

} // namespace orvanta::cli
