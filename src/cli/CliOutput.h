#pragma once

#include <nlohmann/json.hpp>

#include <exception>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace orvanta::cli {

// Exit statuses shared by every command. A run that a signal ends exits with 128 + the signal's
// number (cli/InterruptFlag.h).
inline constexpr int exitSuccess = 0;
inline constexpr int exitFailure = 1;
inline constexpr int exitUsage = 2;

// Thrown by argument parsing; main prints the message with the usage text and exits with exitUsage.
struct UsageError : std::exception {
    explicit UsageError(std::string message) : message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }
    std::string message;
};

// One decimal and a unit, e.g. "-8.0 LUFS"; a value that is not finite prints as "n/a".
std::string formatLevel(double value, const std::string& unit);

// A JSON number at full precision, or null when the value is not finite (JSON has no NaN).
nlohmann::ordered_json jsonNumber(double value);

// One line on stderr: "orvanta-cli: <file>: <message>", the file left out when the message
// already names it.
void printError(const std::filesystem::path& file, const std::string& message);
void printError(const std::string& message);

// While it lives, what the command prints on stdout goes to stderr instead: for a run whose result is
// written to standard output itself, where a report would land inside the audio.
class ReportOnStandardError {
public:
    ReportOnStandardError();
    ~ReportOnStandardError();
    ReportOnStandardError(const ReportOnStandardError&) = delete;
    ReportOnStandardError& operator=(const ReportOnStandardError&) = delete;

private:
    std::streambuf* standardOutput_;
};

// Prints a JSON object on one line on stdout; names that are not UTF-8 are escaped (cli/JsonText.h).
void printJson(const nlohmann::ordered_json& object);

// Simple option scanner over the words after the command: flags and options with one value. A "--"
// ends the options: every word after it is a positional, even one that starts with "-".
class Arguments {
public:
    explicit Arguments(std::vector<std::string> words);

    // Removes `flag` wherever it appears; true when it did.
    bool takeFlag(const std::string& flag);
    // Removes `option VALUE` (or `option=VALUE`); empty when absent. Throws UsageError without a value.
    std::optional<std::string> takeOption(const std::string& option);
    // The remaining words; throws UsageError for a leftover word starting with "-" or when the
    // count is not `expected`.
    std::vector<std::string> positionals(std::size_t expected);
    // The same for a list of at least `minimum` words.
    std::vector<std::string> positionalsAtLeast(std::size_t minimum);

private:
    std::vector<std::string> words_;         // before "--"
    std::vector<std::string> afterOptions_;  // after "--"
};

// True when the words ask for help ("--help" or "-h" before any "--").
bool asksForHelp(const std::vector<std::string>& words);

// Parses a decimal number for `option`; throws UsageError when it is not a finite number.
double parseNumber(const std::string& option, const std::string& text);
// The same, within [minimum, maximum] (in `unit`); outside, a UsageError naming the range, e.g.
// "--target must be between -30 and -3 LUFS, got -200".
double parseNumberInRange(const std::string& option, const std::string& text, double minimum, double maximum,
                          const std::string& unit);

} // namespace orvanta::cli
