#include "cli/CliOutput.h"

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

void printJson(const nlohmann::ordered_json& object) {
    std::cout << object.dump() << std::endl;
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
    for (const std::string& word : words_)
        if (word.size() > 1 && word[0] == '-') throw UsageError("unknown option " + word);
    if (words_.size() != expected)
        throw UsageError(words_.size() < expected ? "missing argument" : "too many arguments");
    return words_;
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

} // namespace orvanta::cli
