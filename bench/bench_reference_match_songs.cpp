// Reference matching on real music: pairs of different songs from freely licensed music that Debian
// packages ship (metal and rock from Frets on Fire, orchestral and ambient game scores from
// HyperRogue, a 1990s adventure game's soundtrack from Drascula, electronic battle music from ASC),
// each song matched to a reference of another genre. For every pair the song is mastered once, then
// given a reference pass at "Gentle", "Medium" and "Full", as the command line runs them (the core's
// reference analysis and passes, no window).
//
// Per pair it prints the range of the full correction (reference balance less the master's, levels
// aligned, smoothed: what "Full" would apply without the ±6 dB bounds). Per pair and strength it prints
// the broad balance distance (test support's broadBalanceDistanceDb) of the master and of the final to
// the reference and how much closer the final is; the same for the master through the matched EQ alone
// (before the final pass's gain staging and limiter, which press part of a boost back); the largest step
// between adjacent band gains of the matched EQ and the number of zig-zags (three successive steps
// alternating in sign, each over 1.5 dB); the final's loudness against the target (libebur128 minus the
// meter's 0.5 dB offset) and its true peak against the ceiling (libebur128); and the pass's wall time.
// A missing package is skipped with a message. Aims: no strength moves a pair away; "Full" 40 % closer
// on every pair whose correction lies within ±6 dB and 50 % in the median; "Medium" 20 % closer; steps
// at most 4 dB, no zig-zag; finals within 0.3 LU of the target and at or under the ceiling. The summary
// checks each.
//
// It also times the analysis of a 5-minute reference (wall and CPU seconds, best of three) beside
// ffmpeg decoding the same file and measuring its loudness (ebur128 filter).
//
// Runs in a fresh temporary folder (ORVANTA_TEMP_DIR, ORVANTA_CONFIG_DIR).
#include "IsolatedEnvironment.h"
#include "batch/MasterFile.h"
#include "eq/AudioEngine.h"
#include "eq/BalanceMatching.h"
#include "eq/MatchStrength.h"
#include "eq/ReferenceSpectrum.h"
#include "eq/TonalBalance.h"
#include "support/AudioMeasures.h"
#include "support/Signals.h"
#include "support/TonalBalance.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double excerptStart = 20.0;   // s into the file: past most intros
constexpr double excerptSeconds = 60.0; // each song and reference, to keep the run short
constexpr float targetLufs = -9.0f;
constexpr float ceilingDb = -1.0f;
constexpr double meterOffsetDb = 0.5;

const orvanta::bench::IsolatedEnvironment isolatedEnvironment("MatchSongs");

struct Source {
    const char* name;    // as printed
    const char* package; // the Debian package that ships it
    fs::path path;       // the file; for a Frets on Fire song its backing track
};

const fs::path fretsOnFire = "/usr/share/games/fretsonfire/data/songs";
const fs::path hyperRogue = "/usr/share/hyperrogue/music";
const fs::path drascula = "/usr/share/scummvm/drascula/audio";
const fs::path asc = "/usr/share/games/asc/music";

// Song, reference: every pair joins two genres.
struct Pair {
    Source song;
    Source reference;
};

std::vector<Pair> pairs() {
    const auto fof = [](const char* name, const char* package, const char* folder) {
        return Source{name, package, fretsOnFire / folder / "song.ogg"};
    };
    const Source chaosGod = fof("metal:chaos_god", "fretsonfire-songs-muldjord", "muldjord/chaos_god");
    const Source mime = fof("metal:mutilated_mime", "fretsonfire-songs-muldjord", "muldjord/mutilated_mime");
    const Source armygeddon = fof("metal:armygeddon", "fretsonfire-songs-muldjord", "muldjord/armygeddon");
    const Source feelings = fof("rock:feelings", "fretsonfire-songs-sectoid", "sectoid/Feelings");
    const Source freedom = fof("rock:war_of_freedom", "fretsonfire-songs-sectoid", "sectoid/War of freedom");
    const Source madness = fof("rock:metal_madness", "fretsonfire-songs-sectoid", "sectoid/Metal madness");
    const auto hr = [](const char* name, const char* file) {
        return Source{name, "hyperrogue-music", hyperRogue / file};
    };
    const auto dr = [](const char* name, const char* file) {
        return Source{name, "drascula-music", drascula / file};
    };
    const auto as = [](const char* name, const char* file) { return Source{name, "asc-music", asc / file}; };
    return {
        {chaosGod, hr("score:hell", "hr3-hell.ogg")},
        {feelings, dr("adventure:track2", "track2.ogg")},
        {hr("score:hunting", "hr-domina-hunting.ogg"), armygeddon},
        {dr("adventure:track10", "track10.ogg"), freedom},
        {madness, hr("score:desert", "hr3-desert.ogg")},
        {hr("score:jungle", "hr3-jungle.ogg"), dr("adventure:track5", "track5.ogg")},
        {mime, as("electronic:machine_wars", "machine_wars.mp3")},
        {as("electronic:frontiers", "frontiers.mp3"), hr("score:icyland", "hr3-icyland.ogg")},
        {dr("adventure:track7", "track7.ogg"), fof("metal:internal_degen", "fretsonfire-songs-muldjord",
                                                   "muldjord/internal_degeneration")},
    };
}

// The excerpt of a source as a float WAV; a Frets on Fire song gets its guitar stem mixed in, 6 dB down
// together so that the sum keeps clear of full scale.
fs::path writeExcerpt(const Source& source) {
    double rate = 0.0;
    orvanta::test::Channels channels = orvanta::test::readWithSndfile(source.path, &rate);
    const fs::path guitar = source.path.parent_path() / "guitar.ogg";
    if (source.path.filename() == "song.ogg" && fs::exists(guitar)) {
        const orvanta::test::Channels stem = orvanta::test::readWithSndfile(guitar);
        for (size_t c = 0; c < channels.size() && c < stem.size(); ++c)
            for (size_t i = 0; i < channels[c].size() && i < stem[c].size(); ++i)
                channels[c][i] = 0.5f * (channels[c][i] + stem[c][i]);
    }
    const size_t frames = channels.front().size();
    size_t first = size_t(excerptStart * rate), count = size_t(excerptSeconds * rate);
    if (first + count > frames) first = frames > count ? frames - count : 0;
    count = std::min(count, frames - first);
    for (auto& channel : channels) channel = std::vector<float>(channel.begin() + long(first),
                                                                channel.begin() + long(first + count));
    std::string name = source.name;
    std::replace(name.begin(), name.end(), ':', '-');
    const fs::path path = isolatedEnvironment.songsDirectory() / (name + ".wav");
    orvanta::test::writeWav(path, channels, rate, orvanta::test::SampleFormat::float32);
    return path;
}

struct Smoothness {
    double largestStep = 0.0;
    int zigZags = 0;
};

Smoothness smoothnessOf(const orvanta::EQSettings& settings) {
    std::vector<double> steps;
    for (size_t i = 1; i < settings.bands.size(); ++i)
        steps.push_back(double(settings.bands[i].gain) - double(settings.bands[i - 1].gain));
    Smoothness result;
    for (size_t i = 0; i < steps.size(); ++i) {
        result.largestStep = std::max(result.largestStep, std::fabs(steps[i]));
        if (i + 2 < steps.size()) {
            const bool large = std::fabs(steps[i]) > 1.5 && std::fabs(steps[i + 1]) > 1.5 && std::fabs(steps[i + 2]) > 1.5;
            const bool alternating = steps[i] * steps[i + 1] < 0.0 && steps[i + 1] * steps[i + 2] < 0.0;
            result.zigZags += large && alternating;
        }
    }
    return result;
}

std::string gainsOf(const orvanta::EQSettings& settings) {
    std::string text;
    char number[16];
    for (size_t i = 0; i < 10 && i < settings.bands.size(); ++i) {
        std::snprintf(number, sizeof number, "%s%+.1f", i ? " " : "", double(settings.bands[i].gain));
        text += number;
    }
    return text;
}

double median(std::vector<double> values) {
    if (values.empty()) return std::nan("");
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

struct Timing {
    double wallSeconds = 1e30;
    double cpuSeconds = 1e30; // this process's threads and its children's
};

double cpuSecondsSoFar() {
    double total = 0.0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    }
    return total;
}

// Wall and CPU seconds of `work`, each the best of three runs (the machine is shared).
template <typename Work>
Timing bestOfThree(Work&& work) {
    Timing best;
    for (int run = 0; run < 3; ++run) {
        const auto start = Clock::now();
        const double cpuStart = cpuSecondsSoFar();
        work();
        best.cpuSeconds = std::min(best.cpuSeconds, cpuSecondsSoFar() - cpuStart);
        best.wallSeconds = std::min(best.wallSeconds, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// Analysing a 5-minute reference (the first real song, looped to 300 s, as a float WAV): the balance
// alone and the whole reference analysis, beside ffmpeg reading the same file (one decode) and
// measuring its loudness (a comparable analysis).
void timeFiveMinuteReference(const Source& source) {
    double rate = 0.0;
    orvanta::test::Channels channels = orvanta::test::readWithSndfile(source.path, &rate);
    const size_t frames = size_t(300.0 * rate), length = channels.front().size();
    for (auto& channel : channels) {
        channel.resize(frames);
        for (size_t i = length; i < frames; ++i) channel[i] = channel[i % length];
    }
    const fs::path path = isolatedEnvironment.songsDirectory() / "five-minutes.wav";
    orvanta::test::writeWav(path, channels, rate, orvanta::test::SampleFormat::float32);
    const Timing balance = bestOfThree([&] { orvanta::measureTonalBalance(path); });
    const Timing analysis = bestOfThree([&] { orvanta::analyzeReferenceFile(path); });
    const auto ffmpeg = [&](const std::string& filter) {
        const std::string command = "ffmpeg -v quiet -nostdin -i '" + path.string() + "' " + filter +
                                    " -f null - >/dev/null 2>&1";
        return bestOfThree([&] { (void)std::system(command.c_str()); });
    };
    const Timing decode = ffmpeg(""), loudness = ffmpeg("-af ebur128");
    std::printf("5-minute reference (wall / CPU s, best of 3): balance %.3f / %.3f, whole reference analysis "
                "%.3f / %.3f; ffmpeg decode %.3f / %.3f, ffmpeg ebur128 %.3f / %.3f\n",
                balance.wallSeconds, balance.cpuSeconds, analysis.wallSeconds, analysis.cpuSeconds,
                decode.wallSeconds, decode.cpuSeconds, loudness.wallSeconds, loudness.cpuSeconds);
    std::printf("  whole analysis / ffmpeg ebur128: wall %.2f, CPU %.2f; aim: whole analysis under 0.3 s wall\n\n",
                analysis.wallSeconds / loudness.wallSeconds, analysis.cpuSeconds / loudness.cpuSeconds);
    std::error_code ec;
    fs::remove(path, ec);
}

// The smallest and largest full correction over the bands both have content in, dB.
std::pair<double, double> correctionRange(const orvanta::TonalBalance& reference, const orvanta::TonalBalance& master) {
    double lowest = 0.0, highest = 0.0;
    for (const float value : orvanta::balanceCorrectionDb(reference, master, orvanta::fullMatchStrength)) {
        if (!std::isfinite(value)) continue;
        lowest = std::min(lowest, double(value));
        highest = std::max(highest, double(value));
    }
    return {lowest, highest};
}

} // namespace

int main() {
    if (const std::vector<Pair> all = pairs(); fs::exists(all.front().song.path)) timeFiveMinuteReference(all.front().song);
    std::printf("%-22s %-24s %-7s %6s %6s %6s %6s %6s %5s %3s %7s %7s %5s  %s\n", "song", "reference", "strength",
                "master", "EQ", "closer", "final", "closer", "step", "zz", "LU miss", "TP-ceil", "time",
                "gains 32 Hz ... 12 kHz");
    std::vector<double> fullCloser, fullCloserWithin, mediumCloser;
    double leastCloser = 1e30, largestStep = 0.0, largestMiss = 0.0, highestOverCeiling = -1e30;
    int zigZags = 0;
    double referenceSeconds = 0.0;
    int referenceCount = 0;
    for (const Pair& pair : pairs()) {
        bool missing = false;
        for (const Source* source : {&pair.song, &pair.reference}) {
            if (!fs::exists(source->path)) {
                std::printf("skipped %s -> %s: %s not found (Debian package %s)\n", pair.song.name,
                            pair.reference.name, source->path.c_str(), source->package);
                missing = true;
                break;
            }
        }
        if (missing) continue;
        const fs::path song = writeExcerpt(pair.song), reference = writeExcerpt(pair.reference);

        const auto analysisStart = Clock::now();
        const orvanta::ReferenceAnalysis analysis = orvanta::analyzeReferenceFile(reference);
        referenceSeconds += std::chrono::duration<double>(Clock::now() - analysisStart).count();
        ++referenceCount;

        orvanta::MasteringOptions options;
        options.input = song;
        options.targetLUFS = targetLufs;
        options.limitThreshold = ceilingDb;
        const orvanta::MasteredFile master = orvanta::masterFile(options);
        const double masterDistance = orvanta::test::broadBalanceDistanceDb(master.result.outputURL, reference);
        const auto [lowest, highest] =
            correctionRange(*analysis.profile.tonalBalance, orvanta::measureTonalBalance(master.result.outputURL));
        const bool within = lowest >= -6.0 && highest <= 6.0;
        std::printf("%s -> %s: full correction %+.1f ... %+.1f dB%s\n", pair.song.name, pair.reference.name, lowest,
                    highest, within ? " (within 6 dB)" : "");

        for (const orvanta::MatchStrengthStep& step : orvanta::matchStrengthSteps) {
            orvanta::MasteringOptions final = options;
            final.input = master.result.outputURL;
            final.pass = orvanta::MasteringPass::referenceFinal;
            final.reference = orvanta::referenceMatchOf(analysis.profile, step.percent);
            const auto start = Clock::now();
            const orvanta::MasteredFile result = orvanta::masterFile(final);
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            const orvanta::EQSettings matched = result.matchedEQ.value_or(orvanta::EQSettings{});

            // The master through the matched EQ alone, 6 dB down so that no boost clips.
            const fs::path equalised = isolatedEnvironment.songsDirectory() / "equalised.wav";
            orvanta::AudioEngine().renderCorrection(master.result.outputURL, equalised, matched, {}, 0.0f, 1.0f, -6.0f);
            const double eqDistance = orvanta::test::broadBalanceDistanceDb(equalised, reference);

            const fs::path& out = result.result.outputURL;
            const double distance = orvanta::test::broadBalanceDistanceDb(out, reference);
            const double closer = 100.0 * (masterDistance - distance) / masterDistance;
            const double eqCloser = 100.0 * (masterDistance - eqDistance) / masterDistance;
            if (step.name == "Full") {
                fullCloser.push_back(closer);
                if (within) fullCloserWithin.push_back(closer);
            }
            if (step.name == "Medium") mediumCloser.push_back(closer);
            const Smoothness smooth = smoothnessOf(matched);
            const double loudness = orvanta::test::ebur128IntegratedLoudness(out) - meterOffsetDb;
            const double truePeak = orvanta::test::ebur128TruePeakDb(out);
            leastCloser = std::min(leastCloser, closer);
            largestStep = std::max(largestStep, smooth.largestStep);
            zigZags += smooth.zigZags;
            largestMiss = std::max(largestMiss, std::fabs(loudness - targetLufs));
            highestOverCeiling = std::max(highestOverCeiling, truePeak - ceilingDb);
            std::printf("%-22s %-24s %-7s %6.2f %6.2f %5.0f%% %6.2f %5.0f%% %5.1f %3d %+7.2f %+7.2f %4.1fs  %s\n",
                        pair.song.name, pair.reference.name, std::string(step.name).c_str(), masterDistance,
                        eqDistance, eqCloser, distance, closer, smooth.largestStep, smooth.zigZags,
                        loudness - targetLufs, truePeak - ceilingDb, seconds, gainsOf(matched).c_str());
            std::fflush(stdout);
            std::error_code ec;
            fs::remove(out, ec);
            fs::remove(equalised, ec);
        }
        std::error_code ec;
        fs::remove(master.result.outputURL, ec);
        fs::remove(song, ec);
        fs::remove(reference, ec);
    }
    const auto least = [](const std::vector<double>& values) {
        return values.empty() ? std::nan("") : *std::min_element(values.begin(), values.end());
    };
    std::printf("\nFull: median %.0f %% closer over %zu pairs (aim 50), least %.0f %%; least on the %zu pairs whose "
                "correction lies within 6 dB: %.0f %% (aim 40)\n",
                median(fullCloser), fullCloser.size(), least(fullCloser), fullCloserWithin.size(),
                least(fullCloserWithin));
    std::printf("Medium: least %.0f %% closer (aim 20). Any strength: least %.0f %% closer (aim above 0)\n",
                least(mediumCloser), leastCloser);
    std::printf("Curves: largest step %.2f dB (aim 4), %d zig-zags (aim 0). Finals: largest loudness miss %.2f LU "
                "(aim 0.3), highest true peak %+.2f dB against the ceiling (aim 0 or under)\n",
                largestStep, zigZags, largestMiss, highestOverCeiling);
    std::printf("Reference analysis %.2f s per 60 s excerpt on average\n",
                referenceCount ? referenceSeconds / referenceCount : 0.0);
    std::printf("(master, EQ, final: broad balance distance to the reference in dB of the master, of the master "
                "through the matched EQ alone and of the final; closer: how much of the master's distance each "
                "removed; step: largest difference of adjacent band gains, dB; zz: zig-zags; LU miss: libebur128 "
                "loudness minus 0.5 dB minus the target; TP-ceil: true peak minus the ceiling; time: the reference "
                "pass)\n");
    return 0;
}
