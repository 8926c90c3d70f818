#pragma once

#include "cli/BatchOptions.h"

#include <filesystem>
#include <vector>

namespace orvanta::cli {

// One file of a batch: where its master goes, and whether it is left out because that file is
// already there (--skip-existing).
struct BatchJob {
    std::filesystem::path input;
    std::filesystem::path output;
    bool skipped = false;
};

// The jobs of a batch, in the order of the inputs. Each output is named as the single-file mode
// would name it ("<name> (MASTER).wav", " (FINAL)" with a reference), in the -o folder or beside its
// input. Throws UsageError, before any work, when two inputs would be written to the same file (the
// same input listed twice included) or when an output would replace one of the inputs or the
// reference. With --skip-existing a job is skipped only when its output opens as complete audio.
std::vector<BatchJob> planBatch(const BatchOptions& options);

} // namespace orvanta::cli
