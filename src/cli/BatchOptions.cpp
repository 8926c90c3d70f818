#include "cli/BatchOptions.h"

#include "batch/MasteringPresets.h"
#include "cli/CliOutput.h"
#include "cli/OutputChoice.h"
#include "engine/SettingRanges.h"
#include "eq/MatchStrength.h"
#include "platform/PreferenceStore.h"

#include <sched.h>

#include <array>
#include <string_view>
#include <thread>

namespace orvanta::cli {

namespace fs = std::filesystem;

namespace {

// The single-file options that take a value; their values are not inputs.
constexpr std::array<std::string_view, 9> valuedOptions = {"-o",          "--preset",       "--target", "--ceiling",
                                                           "--reference", "--match-amount", "--format", "--bits",
                                                           "--rate"};

bool isValued(const std::string& word) {
    for (const std::string_view option : valuedOptions)
        if (word == option) return true;
    return false;
}

int parseJobs(const std::string& text) {
    const double value = parseNumber("--jobs", text);
    if (value != static_cast<int>(value) || value < 1 || value > maximumJobs) {
        throw UsageError("--jobs takes a whole number from 1 to " + std::to_string(maximumJobs) + ", got " + text);
    }
    return static_cast<int>(value);
}

// Takes `option VALUE` off the line, checks it with `check` and keeps it for every file's run.
template <typename Check>
std::optional<std::string> passOn(Arguments& arguments, const std::string& option, std::vector<std::string>& kept,
                                  Check check) {
    const auto value = arguments.takeOption(option);
    if (!value) return value;
    check(*value);
    kept.push_back(option);
    kept.push_back(*value);
    return value;
}

} // namespace

bool isBatchMasterForm(const std::vector<std::string>& words) {
    std::size_t inputs = 0;
    bool options = true;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (options && word == "--") {
            options = false;
        } else if (options && (word == "--jobs" || word.rfind("--jobs=", 0) == 0 || word == "--skip-existing" ||
                                word == "--album")) {
            return true;
        } else if (options && isValued(word)) {
            ++i;
        } else if (!options || word.size() < 2 || word[0] != '-') {
            ++inputs;
        }
    }
    return inputs > 1;
}

bool isAlbumMasterForm(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (word == "--") return false;
        if (word == "--album") return true;
    }
    return false;
}

BatchOptions parseBatchOptions(const std::vector<std::string>& words, const PreferenceStore& preferences) {
    Arguments arguments(words);
    BatchOptions options;
    options.json = arguments.takeFlag("--json");
    options.skipExisting = arguments.takeFlag("--skip-existing");
    options.album = arguments.takeFlag("--album");
    // An album's gain comes from all of its songs: leaving one out would change the others'.
    if (options.album && options.skipExisting) throw UsageError("--album masters every song; --skip-existing does not apply");
    const auto jobs = arguments.takeOption("--jobs");
    options.jobs = jobs ? parseJobs(*jobs) : std::min(availableCores(), maximumJobs);
    if (const auto folder = arguments.takeOption("-o")) {
        options.folder = fs::path(*folder);
        std::error_code ec;
        if (fs::exists(*options.folder, ec) && !fs::is_directory(*options.folder, ec)) {
            throw UsageError("-o names the folder the masters go into when mastering several files; \"" + *folder +
                             "\" is not a folder");
        }
    }
    passOn(arguments, "--preset", options.masterOptions, [](const std::string& name) {
        if (!presetNamed(name)) throw UsageError("unknown preset \"" + name + "\" (Normal, Loud or \"Extra Loud\")");
    });
    passOn(arguments, "--target", options.masterOptions, [](const std::string& value) {
        parseNumberInRange("--target", value, targetLoudnessRange.minimum, targetLoudnessRange.maximum, "LUFS");
    });
    passOn(arguments, "--ceiling", options.masterOptions, [](const std::string& value) {
        parseNumberInRange("--ceiling", value, limitThresholdRange.minimum, limitThresholdRange.maximum, "dBFS");
    });
    if (const auto reference = passOn(arguments, "--reference", options.masterOptions, [](const std::string&) {}))
        options.reference = fs::path(*reference);
    const auto amount = passOn(arguments, "--match-amount", options.masterOptions, [](const std::string& text) {
        std::optional<float> percent = matchStrengthNamed(text);
        if (!percent) percent = static_cast<float>(parseNumber("--match-amount", text));
        if (!isValidMatchStrength(*percent))
            throw UsageError("--match-amount takes a percentage from 0 to 100 (or Gentle, Medium, Full)");
    });
    if (amount && !options.reference) throw UsageError("--match-amount needs --reference");
    // Decided once here, so that every file's run writes the same format even if the stored
    // preference changes during the batch.
    options.format = chooseExportFormat(takeFormatRequest(arguments), std::nullopt, preferences);
    std::optional<int> rate;
    passOn(arguments, "--rate", options.masterOptions, [&rate](const std::string& value) {
        Arguments single({"--rate", value});
        rate = takeRateOption(single);
    });
    checkRateFits(options.format, rate);
    if (arguments.takeFlag("--noise-shaping")) options.masterOptions.push_back("--noise-shaping");
    for (const std::string& input : arguments.positionalsAtLeast(1)) options.inputs.emplace_back(input);
    return options;
}

int availableCores() noexcept {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace orvanta::cli
