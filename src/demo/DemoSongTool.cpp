// Writes the demo song: orvanta-demo-song OUT.wav [seconds] [levelDB] [seed] [sampleRate]
#include "demo/DemoSong.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>

namespace {

constexpr const char* usage = "usage: orvanta-demo-song OUT.wav [seconds] [levelDB] [seed] [sampleRate]\n";

// The whole argument as a finite number, or nothing: "3x" or "" is a mistake, not 3 or 0.
std::optional<double> numberOf(const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << usage;
        return 0;
    }
    // An output name that starts with "-" is an option this tool does not have, not a file to write.
    if (argc < 2 || argc > 6 || argv[1][0] == '-' || argv[1][0] == '\0') {
        std::cerr << usage;
        return 2;
    }
    double values[4] = {};
    for (int i = 2; i < argc; ++i) {
        const std::optional<double> value = numberOf(argv[i]);
        if (!value) {
            std::cerr << "orvanta-demo-song: \"" << argv[i] << "\" is not a number\n" << usage;
            return 2;
        }
        values[i - 2] = *value;
    }
    orvanta::demo::DemoSongParameters parameters;
    if (argc > 2) parameters.durationSeconds = values[0];
    if (argc > 3) parameters.levelDB = values[1];
    if (argc > 4) parameters.seed = uint32_t(values[2]);
    if (argc > 5) parameters.sampleRate = values[3];
    if (!(parameters.durationSeconds > 0.0) || !(parameters.sampleRate >= 8000.0)) {
        std::cerr << "orvanta-demo-song: the length must be above 0 s and the rate at least 8000 Hz\n";
        return 2;
    }
    try {
        orvanta::demo::writeDemoSong(orvanta::demo::synthesizeDemoSong(parameters), argv[1]);
    } catch (const std::exception& error) {
        std::cerr << "orvanta-demo-song: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
