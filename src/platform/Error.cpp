#include "platform/Error.h"

#include <utility>

namespace orvanta {

Error::Error(std::string domain, int code, std::string description,
             std::shared_ptr<const Error> underlying)
    : domain_(std::move(domain)), code_(code), description_(std::move(description)),
      underlying_(std::move(underlying)) {
    what_ = description_;
    // A wrapper's own text is generic ("Audio processing failed"); the cause says what happened.
    for (const Error* cause = underlying_.get(); cause != nullptr; cause = cause->underlying()) {
        if (cause->description() != description_) {
            what_ += ": " + cause->description();
        }
    }
}

std::string describeForUser(const Error& error) {
    const Error* cause = &error;
    while (cause->underlying() != nullptr) cause = cause->underlying();
    return std::string(error.what()) + " (" + cause->domain() + " error " + std::to_string(cause->code()) + ")";
}

Error audioFileError(AudioFileErrorCode code, std::string description) {
    return Error(std::string(domains::audioFile), static_cast<int>(code), std::move(description));
}

Error fileSystemError(FileSystemErrorCode code, std::string description) {
    return Error(std::string(domains::fileSystem), static_cast<int>(code), std::move(description));
}

} // namespace orvanta
