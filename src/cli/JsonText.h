#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace orvanta::cli {

// The JSON text of `value` on one line. File names on Linux are bytes, not text: a string's valid
// UTF-8 is written as it is, and every byte that is not part of a UTF-8 character is written as the
// escape \udcXX, XX being the byte (80 to ff). This is the "surrogate escape" of Python's
// os.fsdecode: json.loads and os.fsencode give the name back byte for byte.
std::string jsonText(const nlohmann::ordered_json& value);

// Parses JSON text that jsonText wrote. nlohmann's parser refuses a lone \udcXX, so each one is read
// as U+FFFD instead: the names in a report the caller parses again are the caller's to restore.
// Throws nlohmann::json::exception on text that is not JSON.
nlohmann::ordered_json parseJsonText(const std::string& text);

} // namespace orvanta::cli
