#pragma once

#include "cli/BatchReport.h"

#include <filesystem>
#include <functional>
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

// What a batch can check before any work: the output folder exists and the reference opens. Prints
// the cause and returns false otherwise.
bool batchCanStart(const BatchOptions& options);

// Sees each file's outcome, and may add to its report, before its line is printed.
using OutcomeObserver = std::function<void(JobOutcome&)>;

// The runs of a batch without its summary: `jobs` as child runs, --jobs at a time, each with
// `extraArguments` after the user's options, their work inside `workFolder`. Returns how many failed.
// The caller has called catchInterrupts(). Main thread.
int runMasterJobs(const BatchOptions& options, const std::vector<BatchJob>& jobs,
                  const std::filesystem::path& workFolder, const std::vector<std::string>& extraArguments,
                  const OutcomeObserver& observe);

} // namespace orvanta::cli
