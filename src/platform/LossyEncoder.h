#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

namespace orvanta {

// The lossy codecs a result can be encoded with.
enum class LossyCodec {
    aac, // FFmpeg's native AAC encoder, 256 kb/s, in an MPEG-4 audio container (.m4a) laid out for streaming
    mp3, // LAME through libavcodec, 320 kb/s constant bit rate, with a LAME header that carries the
         // encoder's delay and padding, so a decoder gives back exactly the input's frames
};

// "M4A" / "MP3", for messages.
std::string_view codecName(LossyCodec codec) noexcept;

// The highest frequency the codec keeps at its bit rate, Hz: FFmpeg's AAC encoder at 256 kb/s stereo
// and LAME at 320 kb/s both cut at about 20 kHz. A master band-limited below it loses nothing more in
// the encoder.
constexpr double codecBandEdgeHz(LossyCodec) noexcept { return 20000.0; }

// True when MP3 carries `sampleRate` (Hz): the MPEG-1, 2 and 2.5 layer III rates, 8 to 48 kHz.
bool mp3CarriesSampleRate(double sampleRate) noexcept;

// What an encoding wrote.
struct LossyEncoding {
    double sourceSampleRate = 0.0; // the input's rate, Hz
    int sampleRate = 0;            // the rate encoded, Hz: the input's, or 48000 where the codec cannot carry it
};
using M4AEncoding = LossyEncoding;

struct LossyEncodingOptions {
    // Scales the samples before encoding, in float and without clipping (finite, dB).
    float gainDb = 0.0f;
    // Only the input's frames [firstFrame, firstFrame + frameCount) are encoded (all from firstFrame
    // on when frameCount is negative): a short excerpt shows how the codec treats a passage.
    int64_t firstFrame = 0;
    int64_t frameCount = -1;
    // Threads an AAC encoding may use: a long input is cut at frame boundaries into this many pieces
    // (each a few seconds at least), encoded side by side and joined into one gapless stream that
    // decodes like the serial one. 1: the serial encoding on the calling thread, no thread started;
    // 0: one a core, at most 8. MP3 is always serial: LAME's bit reservoir carries bits from frame
    // to frame, so pieces encoded apart would not join. An input that is resampled is serial too.
    int threads = 0;
    // Runs every few frames on each encoding thread; whatever it throws (a cancellation) ends the
    // encoding, leaves no file, and reaches the caller.
    std::function<void()> checkpoint;
};

// Encodes any readable audio file with `codec` at the input's sample rate and channel count at
// `output`. A rate the codec does not take (AAC: above 96 kHz or unusual; MP3: anything but the
// MPEG rates up to 48 kHz) is resampled to 48 kHz, which the result reports.
// AAC is encoded without perceptual noise substitution and intensity stereo, which replace the
// waveform of a band by noise or by the other channel's shape, and without temporal noise shaping,
// whose filters lift the peaks of sustained sub-bass: each costs little bit rate at 256 kb/s but makes
// the decoded peaks of a limited master overshoot it by one to four dB.
// Writes a temporary name beside `output` and renames it over `output` only when complete, so
// `output` is never a partial file. Any thread. Throws Error (domain "AudioFile": cannotOpen for an
// unreadable input, unsupportedFormat for a channel count the codec cannot carry (AAC: more than 8,
// MP3: more than 2) or a fractional rate, cannotCreate or writeFailed for the output) naming the
// files; nothing is left behind on failure.
LossyEncoding encodeLossy(const std::filesystem::path& input, const std::filesystem::path& output, LossyCodec codec,
                          const LossyEncodingOptions& options = {});

// encodeLossy with AAC, scaled by `gainDb`.
inline M4AEncoding encodeM4A(const std::filesystem::path& input, const std::filesystem::path& output,
                             float gainDb = 0.0f) {
    LossyEncodingOptions options;
    options.gainDb = gainDb;
    return encodeLossy(input, output, LossyCodec::aac, options);
}

} // namespace orvanta
