#pragma once

#include "platform/Error.h"

#include <filesystem>
#include <string_view>

namespace orvanta {

// Domain of every error the mastering engine raises itself.
inline constexpr std::string_view engineDomain = "Orvanta";

namespace engine_error {
inline constexpr int bufferCreation = 2;
inline constexpr int outputMissing = 3;  // also "Input file not found at path: ..." of the batch processor
inline constexpr int emptyFile = 4;
inline constexpr int inputWouldBeOverwritten = 5;
inline constexpr int cancelled = 100;
} // namespace engine_error

// "Nu s-a putut crea buffer-ul audio" (code 2): the loudness meter's working buffers.
Error meterBufferError();
// "Could not create audio buffer" (code 2): the block buffer of a limiting pass.
Error passBufferError();
// "Output file was not created" (code 3).
Error outputNotCreatedError();
// "Audio file is empty" (code 4).
Error emptyFileError();
// Code 5: a run would write its result over its own input.
Error inputWouldBeOverwrittenError(const std::filesystem::path& input);
// "The process was canceled by the user" (code 100).
Error cancellationError();
// "Audio processing failed" with the cause's code and the cause attached as underlying error.
Error processingFailedError(const Error& cause);

// Domain "Orvanta", code 100, directly or as the code of a wrapper.
bool isCancellation(const Error& error) noexcept;

} // namespace orvanta
