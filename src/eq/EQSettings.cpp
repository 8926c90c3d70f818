#include "eq/EQSettings.h"

#include <nlohmann/json.hpp>

namespace orvanta {

const std::vector<EQBand>& defaultBands() {
    static const std::vector<EQBand> bands = {
        {32, 0, EQBandType::peaking, 0.7f},    {63, 0, EQBandType::peaking, 0.8f},
        {125, 0, EQBandType::peaking, 0.9f},   {250, 0, EQBandType::peaking, 1.0f},
        {500, 0, EQBandType::peaking, 1.0f},   {1000, 0, EQBandType::peaking, 1.0f},
        {2000, 0, EQBandType::peaking, 1.0f},  {4000, 0, EQBandType::peaking, 1.0f},
        {8000, 0, EQBandType::peaking, 0.9f},  {12000, 0, EQBandType::peaking, 0.8f},
        {16000, 0, EQBandType::peaking, 0.7f}, {20000, 0, EQBandType::peaking, 0.6f},
    };
    return bands;
}

EQSettings defaultEQSettings() {
    EQSettings settings;
    settings.bands = defaultBands();
    return settings;
}

std::string encodeEQSettings(const EQSettings& settings) {
    nlohmann::json bands = nlohmann::json::array();
    for (const EQBand& band : settings.bands)
        bands.push_back({{"frequency", band.frequency}, {"gain", band.gain}, {"type", "Peaking"}, {"q", band.q}});
    const nlohmann::json object = {{"bands", bands},
                                   {"isEnabled", settings.isEnabled},
                                   {"masterGain", settings.masterGain},
                                   {"isAutoReferenceMode", settings.isAutoReferenceMode}};
    return object.dump();
}

namespace {

// Every key is required: a missing key or a value of the wrong type fails the whole decode.
float requiredFloat(const nlohmann::json& object, const char* key) {
    const auto& value = object.at(key);
    if (!value.is_number()) throw std::invalid_argument(key);
    return value.get<float>();
}

bool requiredBool(const nlohmann::json& object, const char* key) {
    const auto& value = object.at(key);
    if (!value.is_boolean()) throw std::invalid_argument(key);
    return value.get<bool>();
}

} // namespace

std::optional<EQSettings> decodeEQSettings(const std::string& json) {
    try {
        const auto object = nlohmann::json::parse(json);
        EQSettings settings;
        const auto& bands = object.at("bands");
        if (!bands.is_array()) return std::nullopt;
        for (const auto& item : bands) {
            EQBand band;
            band.frequency = requiredFloat(item, "frequency");
            band.gain = requiredFloat(item, "gain");
            band.q = requiredFloat(item, "q");
            if (item.at("type") != "Peaking") return std::nullopt;
            settings.bands.push_back(band);
        }
        settings.isEnabled = requiredBool(object, "isEnabled");
        settings.masterGain = requiredFloat(object, "masterGain");
        settings.isAutoReferenceMode = requiredBool(object, "isAutoReferenceMode");
        return settings;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

EQSettings loadEQSettings(const PreferenceStore& store, const std::string& key) {
    const auto data = store.dataValue(key);
    if (!data) return defaultEQSettings();
    const auto settings = decodeEQSettings(std::string(data->begin(), data->end()));
    return settings ? *settings : defaultEQSettings();
}

void saveEQSettings(PreferenceStore& store, const EQSettings& settings, const std::string& key) {
    std::string json;
    try {
        json = encodeEQSettings(settings);
    } catch (const std::exception&) {
        return; // a value JSON cannot hold (NaN gains become null, so this is rare): store nothing
    }
    store.setData(key, PreferenceStore::Data(json.begin(), json.end()));
}

} // namespace orvanta
