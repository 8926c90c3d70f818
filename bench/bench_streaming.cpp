// The streaming preview over the corpus: every song mastered at every preset through the real
// pipeline, then, from libebur128's BS.1770 loudness and true peak of the master, the change each
// service will apply and the loudness it plays at. Prints one table per preset and, per service,
// how many masters it turns down by more than 3 dB. A report, not a gate: exits 0 whatever the
// figures, 1 only when a run fails. Arguments (bench.sh passes Google Benchmark's) are ignored.
#include "batch/AudioProcessor.h"
#include "batch/MasteringPresets.h"
#include "batch/StreamingPreview.h"
#include "CorpusFiles.h"
#include "platform/TemporaryDirectory.h"
#include "support/AudioMeasures.h"
#include "support/Signals.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace orvanta;

void printHeader() {
    std::printf("%-30s %8s %7s", "song", "BS.1770", "TP");
    for (const StreamingService& service : streamingServices())
        std::printf(" %13.13s", std::string(service.name).c_str());
    std::printf("\n");
}

} // namespace

int main() {
    const auto folder = privateTemporaryDirectory() / ("streaming-" + std::to_string(::getpid()));
    int status = 0;
    try {
        std::filesystem::create_directories(folder);
        std::string skipped;
        const auto songs = bench::writeCorpus(folder, skipped);
        std::printf("Streaming preview of %zu corpus songs mastered at each preset (BS.1770 loudness and true peak of "
                    "the master by libebur128; each service's change in dB, \"!\" a turn-down of more than 3 dB, "
                    "\"c\" a true peak above -1 dBTP after the service's gain).\n",
                    songs.size());
        if (!skipped.empty()) std::printf("%s\n", skipped.c_str());
        for (const MasteringPreset& preset : masteringPresets) {
            std::printf("\n%s (%.1f LUFS on this meter, ceiling %.1f dBTP)\n", std::string(preset.name).c_str(),
                        preset.targetLoudness, preset.limitThreshold);
            printHeader();
            std::map<std::string, int> turnedDown;
            std::map<std::string, double> largest;
            for (const bench::CorpusSong& song : songs) {
                const DJMasteringResult result = AudioProcessor::processAudio(
                    song.path, nullptr, nullptr, false, std::nullopt, true, preset.targetLoudness, preset.limitThreshold);
                double rate = 0.0;
                const test::Channels output = test::readWithSndfile(result.outputURL, &rate);
                std::error_code ignored;
                std::filesystem::remove(result.outputURL, ignored);
                const test::Ebur128Reading reading = test::measureWithEbur128(output, rate);
                std::printf("%-30s %8.1f %7.1f", song.name.c_str(), reading.integratedLufs, reading.truePeakDb);
                for (const StreamingPlayback& playback : previewStreaming(reading.integratedLufs, reading.truePeakDb)) {
                    const std::string name(playback.service->name);
                    std::printf(" %+10.1f %c%c", playback.gainDb, playback.givesLoudnessAway ? '!' : ' ',
                                playback.mayClip ? 'c' : ' ');
                    turnedDown[name] += playback.givesLoudnessAway;
                    largest[name] = std::min(largest[name], playback.gainDb);
                }
                std::printf("\n");
                std::fflush(stdout);
            }
            std::printf("turned down by more than 3 dB:");
            for (const StreamingService& service : streamingServices()) {
                const std::string name(service.name);
                std::printf("  %s %d/%zu (most %.1f dB)", name.c_str(), turnedDown[name], songs.size(), largest[name]);
            }
            std::printf("\n");
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_streaming: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
