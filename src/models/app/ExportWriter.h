#pragma once

// Plain C++: writing a result file to where the user chose to export it.

#include "batch/ExportFormat.h"

#include <filesystem>

namespace orvanta {

// Writes `source` (a rendered result in any format) to `destination` in `format`: a copy when the
// source already is a file of that format and word length, an M4A encoding whose decoded true peak
// stays at or under `ceilingDb` (the mastering ceiling, dBFS), an MP3 encoding (of a copy resampled
// to 44.1 or 48 kHz when the source's rate is one MP3 does not carry), or a lossless file decoded
// from the source (16 bits dithered with `dither`).
// The data goes to a hidden name beside `destination`, renamed over it only when complete, so the
// destination is either its old content or the whole new file. `source` is never changed; exporting
// a file onto itself writes nothing. A destination that is a character device or a named pipe is
// written into (the export is made in the private temporary directory first), never renamed over; a
// symbolic link is written through (the file it leads to is replaced, the link stays); a folder, a
// socket or a block device is refused. Any thread. Throws Error naming the files.
void writeExport(const std::filesystem::path& source, const std::filesystem::path& destination, ExportFormat format,
                 float ceilingDb, DitherShape dither = DitherShape::flat);

} // namespace orvanta
