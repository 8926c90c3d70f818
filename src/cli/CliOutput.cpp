#include "cli/CliOutput.h"

#include "cli/JsonText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace orvanta::cli {

std::string formatLevel(double value, const std::string& unit) {
    if (!std::isfinite(value)) return "n/a";
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %s", value, unit.c_str());
    return text;
}

nlohmann::ordered_json jsonNumber(double value) {
    if (!std::isfinite(value)) return nullptr;
    return value;
}

void printError(const std::filesystem::path& file, const std::string& message) {
    const std::string name = file.string();
    if (name.empty() || message.find(name) != std::string::npos)
        printError(message);
    else
        printError(name + ": " + message);
}

void printError(const std::string& message) {
    std::string line = message;
    for (char& c : line)
        if (c == '\n') c = ' ';
    std::cerr << "orvanta-cli: " << line << std::endl;
}

ReportOnStandardError::ReportOnStandardError() : standardOutput_(std::cout.rdbuf(std::cerr.rdbuf())) {}

ReportOnStandardError::~ReportOnStandardError() {
    std::cout.flush();
    std::cout.rdbuf(standardOutput_);
}

void printJson(const nlohmann::ordered_json& object) {
    std::cout << jsonText(object) << std::endl;
}

Arguments::Arguments(std::vector<std::string> words) {
    const auto end = std::find(words.begin(), words.end(), std::string("--"));
    words_.assign(words.begin(), end);
    if (end != words.end()) afterOptions_.assign(std::next(end), words.end());
}

bool asksForHelp(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (word == "--") return false;
        if (word == "--help" || word == "-h") return true;
    }
    return false;
}

bool Arguments::takeFlag(const std::string& flag) {
    bool found = false;
    for (auto it = words_.begin(); it != words_.end();) {
        if (*it == flag) {
            it = words_.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found;
}

std::optional<std::string> Arguments::takeOption(const std::string& option) {
    std::optional<std::string> value;
    for (auto it = words_.begin(); it != words_.end();) {
        if (*it == option) {
            if (std::next(it) == words_.end()) throw UsageError(option + " needs a value");
            value = *std::next(it);
            it = words_.erase(it, std::next(it, 2));
        } else if (it->rfind(option + "=", 0) == 0) {
            value = it->substr(option.size() + 1);
            it = words_.erase(it);
        } else {
            ++it;
        }
    }
    return value;
}

std::vector<std::string> Arguments::positionals(std::size_t expected) {
    std::vector<std::string> all = positionalsAtLeast(expected);
    if (all.size() != expected) throw UsageError("too many arguments");
    return all;
}

std::vector<std::string> Arguments::positionalsAtLeast(std::size_t minimum) {
    for (const std::string& word : words_)
        if (word.size() > 1 && word[0] == '-') {
            throw UsageError("unknown option " + word + " (a file name that starts with \"-\" goes after \"--\")");
        }
    std::vector<std::string> all = words_;
    all.insert(all.end(), afterOptions_.begin(), afterOptions_.end());
    if (all.size() < minimum) throw UsageError("missing argument");
    for (const std::string& word : all)
        if (word.empty()) throw UsageError("an empty file name");
    return all;
}

double parseNumber(const std::string& option, const std::string& text) {
    try {
        std::size_t used = 0;
        const double value = std::stod(text, &used);
        if (used == text.size() && std::isfinite(value)) return value;
    } catch (const std::exception&) {
    }
    throw UsageError(option + " expects a number, got \"" + text + "\"");
}

double parseNumberInRange(const std::string& option, const std::string& text, double minimum, double maximum,
                          const std::string& unit) {
    const double value = parseNumber(option, text);
    if (value >= minimum && value <= maximum) return value;
    const auto plain = [](double number) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%g", number);
        return std::string(buffer);
    };
    throw UsageError(option + " must be between " + plain(minimum) + " and " + plain(maximum) + " " + unit +
                     ", got " + text);
}

} // namespace orvanta::cli
