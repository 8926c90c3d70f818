#include "engine/ProcessingErrors.h"

#include <memory>

namespace orvanta {

namespace {
Error engineError(int code, const char* description) { return Error(std::string(engineDomain), code, description); }
} // namespace

Error meterBufferError() { return engineError(engine_error::bufferCreation, "Nu s-a putut crea buffer-ul audio"); }
Error passBufferError() { return engineError(engine_error::bufferCreation, "Could not create audio buffer"); }
Error outputNotCreatedError() { return engineError(engine_error::outputMissing, "Output file was not created"); }
Error emptyFileError() { return engineError(engine_error::emptyFile, "Audio file is empty"); }
Error inputWouldBeOverwrittenError(const std::filesystem::path& input) {
    return Error(std::string(engineDomain), engine_error::inputWouldBeOverwritten,
                 "The result would replace its own input \"" + input.string() + "\"; the input was left untouched");
}
Error unmeasurableAudioError(Measurability why) {
    return engineError(engine_error::unmeasurable,
                       why == Measurability::silent
                           ? "The audio is silent: no 0.4 s stretch of it rises above -70 LUFS"
                           : "The audio is too short to measure: its loudness needs at least 0.4 s of sound");
}

void requireMeasurable(const AudioStats& stats) {
    if (stats.measurability != Measurability::measurable) throw unmeasurableAudioError(stats.measurability);
}

const char* unmeasuredLabel(Measurability why) noexcept {
    switch (why) {
    case Measurability::tooShort: return "too short";
    case Measurability::silent: return "silent";
    case Measurability::measurable: break;
    }
    return "";
}

Error cancellationError() { return engineError(engine_error::cancelled, "The process was canceled by the user"); }

Error processingFailedError(const Error& cause) {
    return Error(std::string(engineDomain), cause.code(), "Audio processing failed", std::make_shared<Error>(cause));
}

bool isCancellation(const Error& error) noexcept {
    return error.domain() == engineDomain && error.code() == engine_error::cancelled;
}

} // namespace orvanta
