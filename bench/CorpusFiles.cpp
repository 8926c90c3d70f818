#include "CorpusFiles.h"

#include "CorpusSongs.h"
#include "demo/DemoSong.h"
#include "support/AudioMeasures.h"
#include "support/Signals.h"

#include <array>
#include <cmath>

namespace orvanta::bench {

namespace {

constexpr double sampleRate = 44100.0;
constexpr double meterOffsetDb = 0.5; // the engine's meter reads BS.1770 loudness minus this

// Scales the song so that the engine's meter would read `lufs` for it.
void scaleTo(test::Channels& channels, double rate, double lufs) {
    const double measured = test::measureWithEbur128(channels, rate).integratedLufs - meterOffsetDb;
    const float gain = float(std::pow(10.0, (lufs - measured) / 20.0));
    for (auto& channel : channels) {
        for (float& x : channel) x *= gain;
    }
}

std::filesystem::path write(const std::filesystem::path& folder, const std::string& name, const test::Channels& channels,
                            double rate) {
    // Float samples, so that nothing clips on the way in (a decoded Ogg may overshoot full scale).
    const auto path = folder / (name + ".wav");
    test::writeWav(path, channels, rate, test::SampleFormat::float32);
    return path;
}

} // namespace

std::vector<CorpusSong> writeCorpus(const std::filesystem::path& folder, std::string& skipped) {
    std::vector<CorpusSong> songs;
    for (const SongStyle& style : corpusStyles()) {
        StereoSong song = synthesizeSong(style, sampleRate);
        test::Channels channels{std::move(song.left), std::move(song.right)};
        scaleTo(channels, sampleRate, style.inputLufs);
        songs.push_back({style.name, write(folder, style.name, channels, sampleRate), style.bpm});
    }

    demo::DemoSongParameters demoParameters;
    demoParameters.durationSeconds = 90.0;
    demoParameters.sampleRate = sampleRate;
    demo::DemoSong demo = demo::synthesizeDemoSong(demoParameters);
    test::Channels demoChannels{std::move(demo.left), std::move(demo.right)};
    scaleTo(demoChannels, sampleRate, -14.0);
    songs.push_back({"demo-pop-124", write(folder, "demo-pop-124", demoChannels, sampleRate), demoParameters.bpm});

    // The band's backing track and guitar stem, mixed as the game plays them, 6 dB down so that the
    // sum keeps clear of full scale.
    static constexpr std::array<const char*, 4> realSongs = {"armygeddon", "chaos_god", "internal_degeneration",
                                                             "mutilated_mime"};
    skipped.clear();
    for (const char* title : realSongs) {
        const auto backing = realSongFolder / title / "song.ogg";
        const auto guitar = realSongFolder / title / "guitar.ogg";
        if (!std::filesystem::exists(backing) || !std::filesystem::exists(guitar)) {
            skipped = "real songs skipped: " + realSongFolder.string() +
                      " not found (Debian package fretsonfire-songs-muldjord)";
            break;
        }
        double rate = 0.0;
        test::Channels mix = test::readWithSndfile(backing, &rate);
        const test::Channels stem = test::readWithSndfile(guitar);
        for (size_t c = 0; c < mix.size() && c < stem.size(); ++c) {
            for (size_t i = 0; i < mix[c].size() && i < stem[c].size(); ++i) {
                mix[c][i] = 0.5f * (mix[c][i] + stem[c][i]);
            }
        }
        const std::string name = std::string("muldjord/") + title;
        songs.push_back({name, write(folder, std::string("muldjord-") + title, mix, rate), 0.0});
    }
    return songs;
}

} // namespace orvanta::bench
