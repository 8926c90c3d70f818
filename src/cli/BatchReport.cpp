#include "cli/BatchReport.h"

#include "cli/CliOutput.h"
#include "cli/JsonText.h"

#include <string.h>

#include <cmath>
#include <csignal>

#include <sstream>
#include <vector>

namespace orvanta::cli {

namespace {

std::string lastLine(const std::string& text) {
    std::istringstream in(text);
    std::string last;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) last = line;
    return last;
}

// "orvanta-cli: a.wav: cannot open as audio" → "cannot open as audio": the line names the program
// and the input, which the batch's own report already names.
std::string causeIn(const std::string& line, const std::string& input) {
    std::string cause = line;
    const std::string program = "orvanta-cli: ";
    if (cause.rfind(program, 0) == 0) cause.erase(0, program.size());
    if (cause.rfind(input + ": ", 0) == 0) cause.erase(0, input.size() + 2);
    return cause;
}

std::string signalName(int signal) {
    const char* name = ::sigabbrev_np(signal);
    return name != nullptr ? "SIG" + std::string(name) : "signal " + std::to_string(signal);
}

double numberAt(const nlohmann::ordered_json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_number() ? found->get<double>() : std::nan("");
}

} // namespace

JobOutcome outcomeOfRun(const BatchJob& job, const ChildExit& exit, const std::string& standardOutput,
                        const std::string& standardError) {
    JobOutcome outcome;
    outcome.job = job;
    const int interrupted = exit.signal != 0 ? exit.signal : exit.exitStatus - 128;
    if (interrupted == SIGINT || interrupted == SIGTERM || interrupted == SIGHUP || interrupted == SIGPIPE) {
        outcome.kind = JobOutcome::Kind::cancelled;
        return outcome;
    }
    if (exit.signal != 0) {
        outcome.error = "the run stopped on " + signalName(exit.signal);
        return outcome;
    }
    if (exit.exitStatus != exitSuccess) {
        outcome.error = causeIn(lastLine(standardError), job.input.string());
        if (outcome.error.empty()) outcome.error = "the run failed with status " + std::to_string(exit.exitStatus);
        return outcome;
    }
    try {
        outcome.report = parseJsonText(lastLine(standardOutput));
        outcome.kind = JobOutcome::Kind::mastered;
    } catch (const nlohmann::json::exception&) {
        outcome.error = "the run gave no report";
    }
    return outcome;
}

nlohmann::ordered_json outcomeJson(const JobOutcome& outcome) {
    static const char* const statusNames[] = {"mastered", "skipped", "failed", "cancelled"};
    nlohmann::ordered_json object = {{"input_path", outcome.job.input.string()},
                                     {"status", statusNames[int(outcome.kind)]}};
    switch (outcome.kind) {
    case JobOutcome::Kind::mastered:
        for (const auto& item : outcome.report.items()) object[item.key()] = item.value();
        // The run's own spelling of the name loses bytes that are not UTF-8 when parsed: this one is whole.
        if (outcome.report.contains("output_path"))
            object["output_path"] = std::filesystem::absolute(outcome.job.output).string();
        break;
    case JobOutcome::Kind::skipped:
        object["output_path"] = std::filesystem::absolute(outcome.job.output).string();
        break;
    case JobOutcome::Kind::failed:
        object["error"] = outcome.error;
        break;
    case JobOutcome::Kind::cancelled:
        break;
    }
    return object;
}

std::string outcomeText(const JobOutcome& outcome) {
    const std::string input = outcome.job.input.string();
    if (outcome.kind == JobOutcome::Kind::skipped)
        return input + ": skipped, " + outcome.job.output.string() + " already exists";
    if (outcome.kind != JobOutcome::Kind::mastered) return {};
    // The figures of the file written: the final pass's when there was one.
    const auto& report = outcome.report;
    const auto final = report.find("final");
    const auto& written = final != report.end() ? *final : report.value("output", nlohmann::ordered_json::object());
    std::string line = input + ": mastered into " + outcome.job.output.string() + " (" +
                       formatLevel(numberAt(written, "lufs"), "LUFS") + ", true peak " +
                       formatLevel(numberAt(written, "true_peak"), "dBTP") + ")";
    // A target out of reach for a gain bound says why in its notes.
    if (!report.value("target_reached", true) && !report.contains("gain_limit_db")) line += "; the target would need clipping: this is the loudest clean result";
    for (const auto& note : report.value("notes", nlohmann::ordered_json::array()))
        if (note.is_string()) line += "; " + note.get<std::string>();
    return line;
}

} // namespace orvanta::cli
