// Writes the demo song: orvanta-demo-song OUT.wav [seconds] [levelDB] [seed] [sampleRate]
#include "demo/DemoSong.h"

#include <cstdlib>
#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: orvanta-demo-song OUT.wav [seconds] [levelDB] [seed] [sampleRate]\n";
        return 2;
    }
    orvanta::demo::DemoSongParameters parameters;
    if (argc > 2) parameters.durationSeconds = std::atof(argv[2]);
    if (argc > 3) parameters.levelDB = std::atof(argv[3]);
    if (argc > 4) parameters.seed = uint32_t(std::atoi(argv[4]));
    if (argc > 5) parameters.sampleRate = std::atof(argv[5]);
    try {
        orvanta::demo::writeDemoSong(orvanta::demo::synthesizeDemoSong(parameters), argv[1]);
    } catch (const std::exception& error) {
        std::cerr << "orvanta-demo-song: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
