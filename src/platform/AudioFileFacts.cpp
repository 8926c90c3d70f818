#include "platform/AudioFileFacts.h"

#include "platform/AudioFileReader.h"

#include <sndfile.h>

#include <cstdio>
#include <limits>

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
    facts.declaredLengthFrames = reader.declaredLengthFrames();
    facts.endedEarly = reader.endedEarly();
    // The stored resolution, where libsndfile reads the file (FFmpeg's formats are mostly lossy).
    SF_INFO info{};
    if (SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info)) {
        facts.bitDepth = bitsOfSubtype(info.format & SF_FORMAT_SUBMASK, facts.floatingPoint);
        sf_close(file);
    }
    return facts;
}

std::optional<std::string> truncationNote(const AudioFileFacts& facts) {
    if (!facts.endedEarly || !(facts.sampleRate > 0)) return std::nullopt;
    const double decoded = double(facts.lengthFrames) / facts.sampleRate;
    char text[96];
    if (facts.declaredLengthFrames <= int64_t(std::numeric_limits<uint32_t>::max())) {
        std::snprintf(text, sizeof text, "truncated: %.1f s of %.1f s decoded", decoded,
                      double(facts.declaredLengthFrames) / facts.sampleRate);
    } else {
        std::snprintf(text, sizeof text, "truncated: %.1f s decoded", decoded);
    }
    return std::string(text);
}

} // namespace orvanta
