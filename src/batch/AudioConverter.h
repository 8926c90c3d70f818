#pragma once

#include "batch/ExportFormat.h"
#include "platform/Error.h"

#include <filesystem>
#include <string>

namespace orvanta {

// Converts a rendered WAV into the export format, in the private temporary directory, under the
// input's base name with the format's extension. The input itself is never changed or removed.
class AudioConverter {
public:
    // Errors of the converter, as the Error domain "AudioConverter" with these codes.
    enum class ConversionError : int { exportFailure = 1, fileNotFound = 2, unsupportedFormat = 3 };
    static constexpr std::string_view domain = "AudioConverter";

    // Returns the converted file (the input itself when it already is the output). Throws Error of
    // the domain above ("Export was cancelled", "Unexpected export status: N", "Output file was not
    // created", or fileNotFound) or a file-system error. An M4A result is always real AAC in MPEG-4:
    // when encoding fails the conversion fails, it never falls back to WAV data under an .m4a name.
    static std::filesystem::path convert(const std::filesystem::path& input, ExportFormat format);
};

// Encodes any readable audio file as AAC (256 kb/s, the input's rate and channel count) in an MPEG-4
// audio container at `output`, written to a temporary name beside it and renamed when complete.
// Throws Error on failure and leaves no partial file.
void encodeM4A(const std::filesystem::path& input, const std::filesystem::path& output);

} // namespace orvanta
