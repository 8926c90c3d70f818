#pragma once

// Models only (QtCore, for the metatype registration).

#include "engine/ProcessingTypes.h"

#include <QMetaType>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvanta {

// The loaded song and everything produced from it. A value type whose identity is `id`: two entries
// are equal when their ids are, whatever their statistics, results or status hold. Any thread.
struct AudioFile {
    enum class ProcessingStatus { pending, processing, completed, failed };

    std::string id;                               // UUID string, new for every load; never changed
    std::filesystem::path url;                    // the file as the user gave it; never changed
    std::string filename;                         // last path component of url; never changed
    std::optional<double> duration;               // seconds, frame length ÷ sample rate
    std::optional<AudioStats> originalStats;      // absent when the loaded file could not be measured
    std::optional<AudioStats> masterStats;
    std::optional<AudioStats> finalStats;
    std::optional<std::filesystem::path> masterURL; // master result (WAV or converted)
    std::optional<std::filesystem::path> finalURL;  // final result
    bool isSelected = true;
    ProcessingStatus processingStatus = ProcessingStatus::pending;

    // A new pending entry for `url` with a fresh id and no results.
    static AudioFile create(const std::filesystem::path& url, std::optional<double> duration,
                            std::optional<AudioStats> originalStats);

    bool operator==(const AudioFile& other) const noexcept { return id == other.id; }
};

// "pending", "processing", "completed", "failed": for logs and the command line.
std::string_view statusName(AudioFile::ProcessingStatus status) noexcept;

} // namespace orvanta

Q_DECLARE_METATYPE(orvanta::AudioFile)
Q_DECLARE_METATYPE(orvanta::AudioFile::ProcessingStatus)
