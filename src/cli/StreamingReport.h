#pragma once

#include "engine/ProcessingTypes.h"

#include <nlohmann/json.hpp>

#include <string>

namespace orvanta::cli {

// How each streaming service will play a published file, from its figures (this meter's loudness,
// turned to BS.1770, and its true peak): a list of {"service", "reference_lufs", "gain_db",
// "plays_at_lufs"}. Empty when the loudness is not finite.
nlohmann::ordered_json streamingJson(const AudioStats& published);

// The same as a table for the text report, one row per service and a note under it for each mark:
// "!" loudness given away or a clipping peak, "?" a rule the service does not publish. Empty when the
// loudness is not finite.
std::string streamingTable(const AudioStats& published);

} // namespace orvanta::cli
