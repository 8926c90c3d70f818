#pragma once

#include "engine/ProcessingTypes.h"
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
inline constexpr int unmeasurable = 6; // too short or silent to measure
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
// Code 6: audio whose loudness cannot be measured, so nothing can be mastered or analysed from it:
// "The audio is too short to measure: ..." or "The audio is silent: ...". `why` is not measurable.
Error unmeasurableAudioError(Measurability why);
// Throws unmeasurableAudioError unless the stats were measured over at least one gated block.
void requireMeasurable(const AudioStats& stats);
// "too short" or "silent" (empty for measurable audio): how a figure that could not be measured reads.
const char* unmeasuredLabel(Measurability why) noexcept;
// "The process was canceled by the user" (code 100).
Error cancellationError();
// "Audio processing failed" with the cause's code and the cause attached as underlying error.
Error processingFailedError(const Error& cause);

// Domain "Orvanta", code 100, directly or as the code of a wrapper.
bool isCancellation(const Error& error) noexcept;

} // namespace orvanta
