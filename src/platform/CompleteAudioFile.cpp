#include "platform/CompleteAudioFile.h"

#include "platform/AudioFileReader.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>

namespace orvanta {

namespace {

uint32_t little32(const unsigned char* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

uint64_t little64(const unsigned char* bytes) { return uint64_t(little32(bytes)) | uint64_t(little32(bytes + 4)) << 32; }

// For a RIFF or RF64 WAVE file: whether the sizes its header declares fit in the file's `fileBytes`.
// None for a file of another format.
std::optional<bool> waveSizesFit(const std::filesystem::path& path, uint64_t fileBytes) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[12];
    if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return std::nullopt;
    const bool rf64 = std::memcmp(head, "RF64", 4) == 0;
    if ((!rf64 && std::memcmp(head, "RIFF", 4) != 0) || std::memcmp(head + 8, "WAVE", 4) != 0) return std::nullopt;
    uint64_t riffBytes = little32(head + 4);
    std::optional<uint64_t> largeDataBytes; // an RF64 file's sizes live in its "ds64" chunk
    for (uint64_t offset = 12; offset + 8 <= fileBytes;) {
        unsigned char chunk[8];
        if (!in.seekg(std::streamoff(offset)) || !in.read(reinterpret_cast<char*>(chunk), sizeof chunk)) return false;
        uint64_t bytes = little32(chunk + 4);
        if (rf64 && std::memcmp(chunk, "ds64", 4) == 0) {
            unsigned char sizes[16];
            if (bytes < sizeof sizes || !in.read(reinterpret_cast<char*>(sizes), sizeof sizes)) return false;
            riffBytes = little64(sizes);
            largeDataBytes = little64(sizes + 8);
        }
        if (std::memcmp(chunk, "data", 4) == 0) {
            if (rf64 && bytes == 0xFFFFFFFFu) {
                if (!largeDataBytes) return false;
                bytes = *largeDataBytes;
            }
            return offset + 8 + bytes <= fileBytes && riffBytes + 8 <= fileBytes + 1; // +1: an odd data chunk's pad
        }
        offset += 8 + bytes + (bytes & 1);
    }
    return false; // no data chunk within the file
}

// Decodes the whole file: complete when every frame its header promises arrives.
bool decodesToItsLength(const std::filesystem::path& path) {
    AudioFileReader reader(path);
    AudioBuffer buffer = reader.makeBuffer(65536);
    int64_t frames = 0;
    while (const uint32_t got = reader.read(buffer, 65536)) frames += got;
    return frames == reader.lengthFrames();
}

} // namespace

bool isCompleteAudioFile(const std::filesystem::path& path) noexcept {
    try {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) return false;
        const uint64_t fileBytes = std::filesystem::file_size(path, ec);
        if (ec || fileBytes == 0) return false;
        if (const std::optional<bool> fits = waveSizesFit(path, fileBytes)) {
            if (!*fits) return false;
            const AudioFileReader reader(path); // and it opens as audio
            return reader.lengthFrames() > 0;
        }
        return decodesToItsLength(path);
    } catch (...) {
        return false;
    }
}

} // namespace orvanta
