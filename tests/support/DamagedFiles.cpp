#include "support/DamagedFiles.h"

#include "support/TestEnvironment.h"

#include <cstdlib>
#include <fstream>

namespace orvanta::test {

namespace fs = std::filesystem;

bool encodeWithFfmpeg(const fs::path& wav, const fs::path& output, const std::vector<std::string>& codecArguments) {
    std::string command = "/usr/bin/ffmpeg -v quiet -y -i '" + wav.string() + "'";
    for (const std::string& argument : codecArguments) command += " " + argument;
    command += " '" + output.string() + "'";
    return std::system(command.c_str()) == 0 && fs::exists(output);
}

void keepLeadingBytes(const fs::path& file, double keptFraction) {
    fs::resize_file(file, uintmax_t(double(fs::file_size(file)) * keptFraction));
}

void claimFlacFrames(const fs::path& flac, uint64_t frames) {
    // "fLaC", the stream info block's 4-byte header, then 10 bytes of block and frame sizes; the next
    // 8 bytes hold rate (20 bits), channels (3), bits (5) and the total samples (36), big-endian.
    std::fstream file(flac, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char field[8];
    file.seekg(18);
    file.read(reinterpret_cast<char*>(field), 8);
    uint64_t bits = 0;
    for (unsigned char byte : field) bits = (bits << 8) | byte;
    bits = (bits & ~((uint64_t(1) << 36) - 1)) | (frames & ((uint64_t(1) << 36) - 1));
    for (int i = 7; i >= 0; --i, bits >>= 8) field[i] = static_cast<unsigned char>(bits & 0xFF);
    file.seekp(18);
    file.write(reinterpret_cast<const char*>(field), 8);
}

bool claimMp3Frames(const fs::path& mp3, uint32_t mpegFrames) {
    std::string bytes = contentsOf(mp3);
    size_t tag = bytes.find("Xing");
    if (tag == std::string::npos) tag = bytes.find("Info");
    if (tag == std::string::npos || tag + 12 > bytes.size()) return false;
    const auto flags = static_cast<unsigned char>(bytes[tag + 7]);
    if ((flags & 1) == 0) return false; // no frame count to rewrite
    for (int i = 0; i < 4; ++i) bytes[tag + 8 + size_t(i)] = char((mpegFrames >> (24 - 8 * i)) & 0xFF);
    std::ofstream(mp3, std::ios::binary | std::ios::trunc) << bytes;
    return true;
}

} // namespace orvanta::test
