#pragma once

#include <filesystem>

namespace orvanta {

// True when `path` opens as audio and holds all of it: a WAV (RIFF or RF64) whose header's sizes fit
// in the file, or another format that decodes to the length its header gives. A 0-byte file, a WAV
// cut off while it was copied, or a file that is not audio is not complete. Reads a WAV's header only;
// other formats are decoded to the end. Any thread; never throws.
bool isCompleteAudioFile(const std::filesystem::path& path) noexcept;

} // namespace orvanta
