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
Error cancellationError() { return engineError(engine_error::cancelled, "The process was canceled by the user"); }

Error processingFailedError(const Error& cause) {
    return Error(std::string(engineDomain), cause.code(), "Audio processing failed", std::make_shared<Error>(cause));
}

bool isCancellation(const Error& error) noexcept {
    return error.domain() == engineDomain && error.code() == engine_error::cancelled;
}

} // namespace orvanta
