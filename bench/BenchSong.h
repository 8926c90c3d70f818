#pragma once
// A five-minute stereo 44.1 kHz demo song at a chosen loudness, written once per benchmark process
// into the private temporary directory and removed at exit.
#include "demo/DemoSong.h"
#include "engine/LoudnessMeter.h"
#include "platform/TemporaryDirectory.h"

#include <cmath>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace orvanta::bench {

class BenchSong {
public:
    BenchSong(const std::string& name, double targetLUFS, double seconds = 300.0) {
        demo::DemoSongParameters parameters;
        parameters.durationSeconds = seconds;
        parameters.sampleRate = 44100.0;
        path_ = privateTemporaryDirectory() / (name + "-" + std::to_string(::getpid()) + ".wav");
        demo::writeDemoSong(demo::synthesizeDemoSong(parameters), path_);
        // One correction brings the song to the wanted loudness within a few tenths of a LU.
        parameters.levelDB = targetLUFS - double(analyzeAudioFile(path_).lufs);
        demo::writeDemoSong(demo::synthesizeDemoSong(parameters), path_);
        lufs_ = analyzeAudioFile(path_).lufs;
    }
    ~BenchSong() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    const std::filesystem::path& path() const noexcept { return path_; }
    float lufs() const noexcept { return lufs_; }

private:
    std::filesystem::path path_;
    float lufs_ = 0;
};

} // namespace orvanta::bench
