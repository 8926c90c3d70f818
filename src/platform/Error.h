#pragma once

#include <exception>
#include <memory>
#include <string>
#include <string_view>

namespace orvanta {

// The one error type of the system: a domain, an integer code, a readable description and,
// for wrapped failures, the error that caused it. Thrown by the platform layer and the DSP core.
class Error : public std::exception {
public:
    Error(std::string domain, int code, std::string description,
          std::shared_ptr<const Error> underlying = nullptr);

    const std::string& domain() const noexcept { return domain_; }
    int code() const noexcept { return code_; }
    const std::string& description() const noexcept { return description_; }
    // The causing error of a wrapper, or nullptr.
    const Error* underlying() const noexcept { return underlying_.get(); }

    bool is(std::string_view domain, int code) const noexcept { return domain_ == domain && code_ == code; }

    // The description, followed by the chain of causes where they add something.
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::string domain_;
    int code_;
    std::string description_;
    std::shared_ptr<const Error> underlying_;
    std::string what_;
};

// Domains of the platform layer. Engine domains ("Orvanta", "AudioEngine", "ReferenceTrack")
// live with the engine code that raises them.
namespace domains {
inline constexpr std::string_view audioFile = "AudioFile";
inline constexpr std::string_view fileSystem = "FileSystem";
inline constexpr std::string_view fft = "FFT";
} // namespace domains

// Codes of the "AudioFile" domain.
enum class AudioFileErrorCode : int {
    cannotOpen = 1,       // missing, unreadable or not audio
    readFailed = 2,       // a read after a successful open failed
    cannotCreate = 3,     // the output file could not be created
    writeFailed = 4,      // a write or the final flush failed
    unsupportedFormat = 5, // a format or channel layout the layer cannot handle
    invalidSamples = 6     // decoded samples that are not numbers, infinite or absurdly loud
};

// Codes of the "FileSystem" domain.
enum class FileSystemErrorCode : int {
    notFound = 1,
    removeFailed = 2,
    moveFailed = 3,
    copyFailed = 4,
    createDirectoryFailed = 5,
    unsafeDirectory = 6,
    destinationRefused = 7, // an output that cannot or must not receive a result (a folder, a disk device)
    writeFailed = 8         // writing a result to its destination failed (a full disk, a closed pipe)
};

// The error as one line for the user: what() (the description and the chain of causes, which name
// the files involved), then the first cause's domain and code for a bug report, e.g.
// "Audio processing failed: Could not write to \"/tmp/.../song_master.wav\": No space left on device
// (AudioFile error 4)". A wrapper carries its cause's code under its own domain; the cause's own
// domain says what happened.
std::string describeForUser(const Error& error);

Error audioFileError(AudioFileErrorCode code, std::string description);
Error fileSystemError(FileSystemErrorCode code, std::string description);

} // namespace orvanta
