#pragma once

#include <string>
#include <vector>

namespace orvanta::cli {

// orvanta-cli master IN [-o OUT] [--preset NAME] [--target LUFS] [--ceiling DBFS]
//                    [--reference REF [--match-amount PERCENT]] [--format wav|m4a] [--json]
// Masters IN and copies the master to OUT; IN is never modified. Returns the exit status.
int runMasterCommand(const std::vector<std::string>& args);

} // namespace orvanta::cli
