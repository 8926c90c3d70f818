#pragma once

#include <string>
#include <vector>

namespace orvanta {
class PreferenceStore;
}

namespace orvanta::cli {

// orvanta-cli master --album IN... [-o FOLDER] [--jobs N] [single-file options] [--json]
// Masters the songs as one album: the loudest input, which needs the least gain, is mastered to the
// target first, and the gain it took is then given to every other song through the same chain (as
// runs of the single-file command with --gain, N at a time), so that the songs keep the loudness
// differences of the mix except where the limiter must take peaks. A song that fails does not stop
// the album; when the one that sets the gain fails, the next loudest sets it. Prints a line per song
// as the batch does, with "album_gain_db", then the album's line (its table without --json). Returns
// 0 when every song was mastered, 1 when one failed, 128 + the signal's number when a signal ended it.
int runAlbumMasterCommand(const std::vector<std::string>& args, const PreferenceStore& preferences);

} // namespace orvanta::cli
