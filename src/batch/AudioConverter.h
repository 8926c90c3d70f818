#pragma once

#include "batch/ExportFormat.h"
#include "engine/ProcessingTypes.h"
#include "platform/Error.h"
#include "batch/LossyCeilingEncoder.h"
#include "platform/TpdfDither.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace orvanta {

// The codec of a lossy format; none for WAV.
std::optional<LossyCodec> lossyCodecOf(ExportFormat format) noexcept;

// Converts a rendered WAV into the export format, in the private temporary directory, under the
// input's base name with the format's extension. The input itself is never changed or removed.
class AudioConverter {
public:
    // Errors of the converter, as the Error domain "AudioConverter" with these codes.
    enum class ConversionError : int { exportFailure = 1, fileNotFound = 2, unsupportedFormat = 3 };
    static constexpr std::string_view domain = "AudioConverter";

    struct Conversion {
        std::filesystem::path url;        // the converted file (the input itself when it already is the output)
        std::optional<double> truePeakDb; // an M4A encoded by this call: its true peak as it decodes, dBTP
        double sourceSampleRate = 0.0;    // an M4A encoded by this call: the input's rate, Hz
        int sampleRate = 0;               // and the rate encoded, Hz (48000 where AAC cannot carry the input's)
        int encodings = 0;                // an M4A encoded by this call: whole-file encodings made
        int remasters = 0;                // and masters made again at a lowered ceiling
        float masterCeilingDb = 0.0f;     // and the ceiling of the master encoded, dBTP
        LossyCodec codec = LossyCodec::aac; // and its codec
        std::optional<AudioStats> stats{};  // and the meter's figures of the file as it decodes
    };

    // What the user should know about a conversion: "AAC carries at most 96 kHz: the M4A is resampled
    // from 192 kHz to 48 kHz" when the rate changed; none otherwise. Any thread.
    static std::optional<std::string> noteOn(const Conversion& conversion);

    // Converts `input`; an M4A is encoded so that its decoded true peak stays at or under `ceilingDb`
    // (the run's limit threshold, dBFS), and an MP3 likewise: where the codec overshoots, `remaster`
    // makes the master again under a lower ceiling, keeping `masterLufs` (encodeUnderCeiling); without
    // it the level goes down a little. A lossless format other than the 24-bit WAV is written from the
    // input's samples (dithered with `dither` at 16 bits) under the input's base name with "_16bit" or
    // "_float" added where the word length is not the container's usual.
    // Throws Error of the domain above ("Export was cancelled", "Unexpected export status: N", "Output
    // file was not created", or fileNotFound) or a file-system error. An M4A result is always real AAC
    // in MPEG-4: when encoding fails the conversion fails, it never falls back to WAV data under an
    // .m4a name, and it leaves no .m4a behind. `isCancelled` is asked between the steps of an M4A
    // encoding; a yes ends it as "Export was cancelled".
    static Conversion convert(const std::filesystem::path& input, ExportFormat format, float ceilingDb,
                              const CancellationQuery& isCancelled = {}, const Remaster& remaster = {},
                              std::optional<float> masterLufs = std::nullopt, DitherShape dither = DitherShape::flat,
                              WorkThreads threads = WorkThreads::pipelined);

    // Final states of an encoding, numbered as the original exporter numbered them.
    enum class ExportStatus : int { completed = 3, failed = 4, cancelled = 5 };
    // The result of an encoding into `output` that ended with `status`: `output` when it completed
    // and the file exists; otherwise throws exportFailure ("Output file was not created", "Export was
    // cancelled", "Unexpected export status: N", or for failed the cause in `failure`).
    static std::filesystem::path finishExport(int status, const std::filesystem::path& output,
                                              std::shared_ptr<const Error> failure = nullptr);
};

} // namespace orvanta
