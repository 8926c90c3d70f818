#pragma once

#include "cli/BatchPlan.h"
#include "cli/ChildRun.h"

#include <nlohmann/json.hpp>

#include <string>

namespace orvanta::cli {

// What became of one file of a batch.
struct JobOutcome {
    enum class Kind { mastered, skipped, failed, cancelled };
    Kind kind = Kind::failed;
    BatchJob job;
    nlohmann::ordered_json report; // the single-file run's JSON object, when mastered
    std::string error;             // why it failed, when it did
};

// Reads a finished single-file run: its exit, its stdout (one JSON line) and its stderr (the
// cause of a failure on its last line, "orvanta-cli: FILE: cause"). A run that a signal of ours
// ended counts as cancelled.
JobOutcome outcomeOfRun(const BatchJob& job, const ChildExit& exit, const std::string& standardOutput,
                        const std::string& standardError);

// The JSON line of an outcome: "input_path", "status" ("mastered", "skipped", "failed" or
// "cancelled"), then the single-file run's own object when mastered, "output_path" when skipped,
// "error" when failed.
nlohmann::ordered_json outcomeJson(const JobOutcome& outcome);

// The line printed without --json for a mastered or skipped file, e.g.
// "a.wav: mastered into out/a (MASTER).wav (-8.0 LUFS, true peak -0.3 dBTP)"; empty for the others,
// whose cause goes to stderr.
std::string outcomeText(const JobOutcome& outcome);

} // namespace orvanta::cli
