#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvanta {

// The per-user key-value store of preferences: typed values (float, bool, string, data) in one JSON
// file. Every change is saved at once and atomically (written beside the file, then renamed), so the
// file is always either the old or the new content. A file that cannot be parsed is set aside under
// a ".unreadable-<time>" name instead of being overwritten. Reads of a key holding another type
// answer "absent", so callers fall back to their defaults. Thread-safe.
class PreferenceStore {
public:
    using Data = std::vector<uint8_t>;

    // The file of this user's store: <config dir>/preferences.json, where the config dir is
    // $ORVANTA_CONFIG_DIR when set, else $XDG_CONFIG_HOME/Orvanta or ~/.config/Orvanta.
    static std::filesystem::path standardFilePath();

    explicit PreferenceStore(std::filesystem::path file);

    const std::filesystem::path& filePath() const noexcept { return file_; }

    // Whether any value is stored under the key.
    bool contains(const std::string& key) const;
    std::optional<float> floatValue(const std::string& key) const;
    std::optional<bool> boolValue(const std::string& key) const;
    std::optional<std::string> stringValue(const std::string& key) const;
    std::optional<Data> dataValue(const std::string& key) const;

    // Each write saves the file. A failed save is reported on stderr and keeps the value in memory.
    void setFloat(const std::string& key, float value);
    void setBool(const std::string& key, bool value);
    void setString(const std::string& key, const std::string& value);
    void setData(const std::string& key, const Data& value);
    void remove(const std::string& key);

    // Re-reads the file (after another process, or a test, changed it).
    void reload();

private:
    void load();
    void save() const;
    void set(const std::string& key, const char* type, nlohmann::json value);
    std::optional<nlohmann::json> valueOfType(const std::string& key, const char* type) const;

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    nlohmann::json values_ = nlohmann::json::object();
};

} // namespace orvanta
