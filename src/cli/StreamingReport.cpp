#include "cli/StreamingReport.h"

#include "batch/StreamingPreview.h"
#include "cli/CliOutput.h"
#include "engine/Bs1770Meter.h"

#include <cmath>
#include <cstdio>

namespace orvanta::cli {

namespace {

std::vector<StreamingPlayback> playbacksOf(const AudioStats& published) {
    if (!std::isfinite(published.lufs) || published.measurability != Measurability::measurable) return {};
    return previewStreaming(bs1770Loudness(published.lufs), published.truePeak);
}

std::string signedDb(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f dB", value);
    return text;
}

} // namespace

nlohmann::ordered_json streamingJson(const AudioStats& published) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const StreamingPlayback& playback : playbacksOf(published)) {
        list.push_back({{"service", std::string(playback.service->name)},
                        {"reference_lufs", jsonNumber(playback.service->referenceLufs)},
                        {"gain_db", jsonNumber(playback.gainDb)},
                        {"plays_at_lufs", jsonNumber(playback.playsAtLufs)}});
    }
    return list;
}

std::string streamingTable(const AudioStats& published) {
    const std::vector<StreamingPlayback> playbacks = playbacksOf(published);
    if (playbacks.empty()) return {};
    std::string table = "Streaming (BS.1770 loudness " + formatLevel(bs1770Loudness(published.lufs), "LUFS") +
                        ", true peak " + formatLevel(published.truePeak, "dBTP") + "):\n" +
                        "  service       plays at    change\n";
    std::string notes;
    for (const StreamingPlayback& playback : playbacks) {
        const std::string_view name = playback.service->name;
        std::string mark;
        if (playback.givesLoudnessAway) {
            mark += "!";
            notes += "  ! " + std::string(name) + " turns it down by more than 3 dB: loudness given away\n";
        }
        if (playback.mayClip) {
            mark += "!";
            notes += "  ! " + std::string(name) + " plays its true peak at " +
                     formatLevel(playback.playedTruePeakDbtp, "dBTP") + ": it may clip after lossy encoding\n";
        }
        if (!playback.service->uncertainty.empty()) {
            mark += "?";
            notes += "  ? " + std::string(playback.service->uncertainty) + "\n";
        }
        char row[160];
        std::snprintf(row, sizeof row, "  %-13s %-11s %-8s %s\n", std::string(name).c_str(),
                      formatLevel(playback.playsAtLufs, "LUFS").c_str(), signedDb(playback.gainDb).c_str(),
                      mark.c_str());
        table += row;
    }
    return table + notes;
}

} // namespace orvanta::cli
