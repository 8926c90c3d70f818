#include "platform/PreferenceStore.h"

#include "platform/FileOperations.h"

#include <unistd.h>
#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

namespace orvanta {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string encodeBase64(const PreferenceStore::Data& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3) {
        const uint32_t chunk = (uint32_t(data[i]) << 16) | (i + 1 < data.size() ? uint32_t(data[i + 1]) << 8 : 0) |
                               (i + 2 < data.size() ? uint32_t(data[i + 2]) : 0);
        out += base64Alphabet[(chunk >> 18) & 63];
        out += base64Alphabet[(chunk >> 12) & 63];
        out += i + 1 < data.size() ? base64Alphabet[(chunk >> 6) & 63] : '=';
        out += i + 2 < data.size() ? base64Alphabet[chunk & 63] : '=';
    }
    return out;
}

std::optional<PreferenceStore::Data> decodeBase64(const std::string& text) {
    PreferenceStore::Data out;
    uint32_t accumulator = 0;
    int bits = 0;
    for (char ch : text) {
        if (ch == '=') {
            break;
        }
        const char* pos = std::char_traits<char>::find(base64Alphabet, 64, ch);
        if (pos == nullptr) {
            return std::nullopt;
        }
        accumulator = (accumulator << 6) | uint32_t(pos - base64Alphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t((accumulator >> bits) & 0xFF));
        }
    }
    return out;
}

fs::path configDirectory() {
    if (const char* dir = std::getenv("ORVANTA_CONFIG_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
        return fs::path(xdg) / "Orvanta";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : ".") / ".config" / "Orvanta";
}

} // namespace

fs::path PreferenceStore::standardFilePath() { return configDirectory() / "preferences.json"; }

PreferenceStore::PreferenceStore(fs::path file) : file_(std::move(file)) { load(); }

void PreferenceStore::reload() {
    std::lock_guard lock(mutex_);
    load();
}

void PreferenceStore::load() {
    values_ = json::object();
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        return; // no file yet: an empty store
    }
    std::stringstream text;
    text << in.rdbuf();
    json parsed = json::parse(text.str(), nullptr, false);
    if (!parsed.is_discarded() && parsed.is_object()) {
        values_ = std::move(parsed);
        return;
    }
    // Keep the user's file for inspection rather than overwriting it with an empty store.
    const auto stamp = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    fs::path aside = file_;
    aside += ".unreadable-" + std::to_string(stamp);
    std::error_code ec;
    fs::rename(file_, aside, ec);
    std::cerr << "[Preferences] " << file_.string() << " could not be read; kept as " << aside.string()
              << " and starting with defaults\n";
}

void PreferenceStore::save() const {
    std::error_code ec;
    fs::create_directories(file_.parent_path(), ec);
    const fs::path partial = siblingTemporaryPath(file_);
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << values_.dump(2) << '\n';
        out.flush();
        if (!out) {
            std::cerr << "[Preferences] could not write " << partial.string() << "\n";
            removeFileQuietly(partial);
            return;
        }
    }
    if (int fd = ::open(partial.c_str(), O_RDONLY); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    fs::rename(partial, file_, ec);
    if (ec) {
        std::cerr << "[Preferences] could not save " << file_.string() << ": " << ec.message() << "\n";
        removeFileQuietly(partial);
    }
}

void PreferenceStore::set(const std::string& key, const char* type, json value) {
    std::lock_guard lock(mutex_);
    values_[key] = json{{"type", type}, {"value", std::move(value)}};
    save();
}

std::optional<json> PreferenceStore::valueOfType(const std::string& key, const char* type) const {
    std::lock_guard lock(mutex_);
    const auto it = values_.find(key);
    if (it == values_.end() || !it->is_object()) {
        return std::nullopt;
    }
    const auto typeIt = it->find("type");
    const auto valueIt = it->find("value");
    if (typeIt == it->end() || valueIt == it->end() || !typeIt->is_string() || *typeIt != type) {
        return std::nullopt;
    }
    return *valueIt;
}

bool PreferenceStore::contains(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return values_.contains(key);
}

std::optional<float> PreferenceStore::floatValue(const std::string& key) const {
    const auto value = valueOfType(key, "float");
    if (!value || !value->is_number()) {
        return std::nullopt;
    }
    return value->get<float>();
}

std::optional<bool> PreferenceStore::boolValue(const std::string& key) const {
    const auto value = valueOfType(key, "bool");
    if (!value || !value->is_boolean()) {
        return std::nullopt;
    }
    return value->get<bool>();
}

std::optional<std::string> PreferenceStore::stringValue(const std::string& key) const {
    const auto value = valueOfType(key, "string");
    if (!value || !value->is_string()) {
        return std::nullopt;
    }
    return value->get<std::string>();
}

std::optional<PreferenceStore::Data> PreferenceStore::dataValue(const std::string& key) const {
    const auto value = valueOfType(key, "data");
    if (!value || !value->is_string()) {
        return std::nullopt;
    }
    return decodeBase64(value->get<std::string>());
}

void PreferenceStore::setFloat(const std::string& key, float value) { set(key, "float", value); }
void PreferenceStore::setBool(const std::string& key, bool value) { set(key, "bool", value); }
void PreferenceStore::setString(const std::string& key, const std::string& value) { set(key, "string", value); }
void PreferenceStore::setData(const std::string& key, const Data& value) { set(key, "data", encodeBase64(value)); }

void PreferenceStore::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (values_.erase(key) > 0) {
        save();
    }
}

} // namespace orvanta
