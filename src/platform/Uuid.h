#pragma once

#include <string>

namespace orvanta {

// A new random (version 4) UUID in upper-case 8-4-4-4-12 form. Thread-safe.
std::string newUuidString();

} // namespace orvanta
