#pragma once

#include <string>
#include <vector>

namespace orvanta::cli {

// `measure FILE [--json]`: prints the file's loudness, peak, RMS and tempo. Returns the exit status.
int runMeasureCommand(const std::vector<std::string>& args);

} // namespace orvanta::cli
