#pragma once

// Internal to the platform layer: the speaker mask in a WAVE_FORMAT_EXTENSIBLE header already written.

#include <filesystem>

namespace orvanta {

// Sets the channel mask of the WAVE_FORMAT_EXTENSIBLE "fmt " chunk of the closed RIFF or RF64 file at
// `path` to 0 ("no positions named"). Returns false when the file is not such a WAVE file (nothing is
// changed then); throws Error (domain "AudioFile", code writeFailed) when the file cannot be written.
bool clearWaveChannelMask(const std::filesystem::path& path);

} // namespace orvanta
