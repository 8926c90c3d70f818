#include "models/batch/AudioFile.h"

#include "platform/Uuid.h"

namespace orvanta {

AudioFile AudioFile::create(const std::filesystem::path& url, std::optional<double> duration,
                            std::optional<AudioStats> originalStats) {
    AudioFile file;
    file.id = newUuidString();
    file.url = url;
    file.filename = url.filename().string();
    file.duration = duration;
    file.originalStats = originalStats;
    return file;
}

std::string_view statusName(AudioFile::ProcessingStatus status) noexcept {
    switch (status) {
    case AudioFile::ProcessingStatus::pending: return "pending";
    case AudioFile::ProcessingStatus::processing: return "processing";
    case AudioFile::ProcessingStatus::completed: return "completed";
    case AudioFile::ProcessingStatus::failed: return "failed";
    }
    return "pending";
}

} // namespace orvanta
