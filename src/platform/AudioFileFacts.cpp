#include "platform/AudioFileFacts.h"

#include "platform/AudioFileReader.h"

#include <sndfile.h>

namespace orvanta {
namespace {

// Bits per stored sample of a libsndfile subtype; none for compressed and adaptive encodings.
std::optional<int> bitsOfSubtype(int subtype, bool& floatingPoint) {
    floatingPoint = false;
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: return 8;
    case SF_FORMAT_PCM_16: return 16;
    case SF_FORMAT_PCM_24: return 24;
    case SF_FORMAT_PCM_32: return 32;
    case SF_FORMAT_FLOAT: floatingPoint = true; return 32;
    case SF_FORMAT_DOUBLE: floatingPoint = true; return 64;
    default: return std::nullopt;
    }
}

} // namespace

AudioFileFacts readAudioFileFacts(const std::filesystem::path& path) {
    // The reader refuses folders, pipes and devices before anything opens them, and knows every format.
    const AudioFileReader reader(path);
    AudioFileFacts facts;
    facts.sampleRate = reader.sampleRate();
    facts.channelCount = reader.channelCount();
    facts.lengthFrames = reader.lengthFrames();
    // The stored resolution, where libsndfile reads the file (FFmpeg's formats are mostly lossy).
    SF_INFO info{};
    if (SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info)) {
        facts.bitDepth = bitsOfSubtype(info.format & SF_FORMAT_SUBMASK, facts.floatingPoint);
        sf_close(file);
    }
    return facts;
}

} // namespace orvanta
