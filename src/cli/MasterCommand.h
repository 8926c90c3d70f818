#pragma once

#include "engine/ProcessingTypes.h"

#include <string>
#include <vector>

namespace orvanta {
class PreferenceStore;
}

namespace orvanta::cli {

// orvanta-cli master IN [-o OUT] [--preset NAME] [--target LUFS] [--ceiling DBFS]
//                    [--reference REF [--match-amount PERCENT]] [--format wav|m4a] [--json]
// Masters IN and copies the master to OUT; IN is never modified. `preferences` (the user's stored
// choices: format, match strength) are only read. `threads`: oneThread when the run is one of
// several sharing the cores. Returns the exit status.
int runMasterCommand(const std::vector<std::string>& args, const PreferenceStore& preferences,
                     WorkThreads threads = WorkThreads::pipelined);

} // namespace orvanta::cli
