#pragma once

#include <string>
#include <vector>

namespace orvanta {
class PreferenceStore;
}

namespace orvanta::cli {

// orvanta-cli master IN... [-o FOLDER] [--jobs N] [--skip-existing] [single-file options] [--json]
// Masters every IN into FOLDER (or beside it), N at a time, each as a run of the single-file
// command in a child process of its own: a file that fails does not stop the others, memory grows
// with N and not with the number of files, and a signal cancels the runs in flight, which remove
// their partial files. Prints one line (one JSON object with --json) per file as it ends. Returns 0
// when every file was mastered or skipped, 1 when one failed, 2 for a usage error found before any
// work, 128 + the signal's number when a signal ended the batch.
int runBatchMasterCommand(const std::vector<std::string>& args, const PreferenceStore& preferences);

} // namespace orvanta::cli
