#include "cli/AlbumPlan.h"

#include "cli/CliOutput.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace orvanta::cli {

std::vector<std::size_t> albumLeadOrder(const std::vector<std::optional<float>>& inputLufs) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < inputLufs.size(); ++i)
        if (inputLufs[i] && std::isfinite(*inputLufs[i])) order.push_back(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return *inputLufs[a] > *inputLufs[b]; });
    return order;
}

namespace {

struct Spread {
    int mastered = 0;
    double loudest = std::nan("");
    double quietest = std::nan("");
};

Spread spreadOf(const AlbumSummary& album) {
    Spread spread;
    for (const AlbumSong& song : album.songs) {
        if (!song.mastered || !std::isfinite(song.outputLufs)) continue;
        spread.loudest = spread.mastered == 0 ? song.outputLufs : std::max(spread.loudest, song.outputLufs);
        spread.quietest = spread.mastered == 0 ? song.outputLufs : std::min(spread.quietest, song.outputLufs);
        ++spread.mastered;
    }
    return spread;
}

} // namespace

nlohmann::ordered_json albumJson(const AlbumSummary& album) {
    const Spread spread = spreadOf(album);
    const int songs = int(album.songs.size());
    return {{"album", true},
            {"songs", songs},
            {"mastered", spread.mastered},
            {"failed", songs - spread.mastered},
            {"album_gain_db", album.gainDb ? jsonNumber(*album.gainDb) : nlohmann::ordered_json()},
            {"set_by", album.gainDb ? nlohmann::ordered_json(album.setBy) : nlohmann::ordered_json()},
            {"loudest_lufs", jsonNumber(spread.loudest)},
            {"quietest_lufs", jsonNumber(spread.quietest)},
            {"spread_lu", jsonNumber(spread.loudest - spread.quietest)}};
}

std::string albumText(const AlbumSummary& album) {
    std::string text = "Album:\n  input       output      true peak   song\n";
    for (const AlbumSong& song : album.songs) {
        char row[96];
        if (song.mastered) {
            std::snprintf(row, sizeof row, "  %-11s %-11s %-11s ", formatLevel(song.inputLufs, "LUFS").c_str(),
                          formatLevel(song.outputLufs, "LUFS").c_str(), formatLevel(song.truePeakDbtp, "dBTP").c_str());
        } else {
            std::snprintf(row, sizeof row, "  %-11s %-11s %-11s ", formatLevel(song.inputLufs, "LUFS").c_str(),
                          "failed", "");
        }
        text += row + song.input + "\n";
    }
    const Spread spread = spreadOf(album);
    if (album.gainDb) {
        char gain[32];
        std::snprintf(gain, sizeof gain, "%+.1f dB", *album.gainDb);
        text += "  album gain " + std::string(gain) + ", set by " + album.setBy + " (mastered to the target)\n";
    } else {
        text += "  no song could be mastered, so there is no album gain\n";
    }
    if (spread.mastered > 0) {
        text += "  loudest " + formatLevel(spread.loudest, "LUFS") + ", quietest " + formatLevel(spread.quietest, "LUFS") +
                ", spread " + formatLevel(spread.loudest - spread.quietest, "LU") + "\n";
    }
    const int failed = int(album.songs.size()) - spread.mastered;
    text += "  " + std::to_string(spread.mastered) + " mastered, " + std::to_string(failed) + " failed\n";
    return text;
}

} // namespace orvanta::cli
