#pragma once

#include <string>
#include <vector>

namespace orvanta {
class PreferenceStore;
}

namespace orvanta::cli {

// `analyze FILE [--json]`: the quality analysis of FILE with its peak pass, as text or as one JSON
// object. `analyze FILE --repair [-o OUT] [--format wav|m4a]`: also builds the correction plan and
// masters the corrected copy into OUT (default beside FILE, "<name> (MASTER).<ext>"), printing the
// plan's notes. Returns the exit status; throws UsageError for bad arguments. Main thread.
// `preferences` (stored format and target) are only read.
int runAnalyzeCommand(const std::vector<std::string>& args, const PreferenceStore& preferences);

} // namespace orvanta::cli
