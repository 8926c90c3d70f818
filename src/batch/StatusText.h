#pragma once

#include <string>

namespace orvanta {

// Numbers as the processing screen shows them: "%.1f" and "%+.1f".
std::string formatOneDecimal(double value);
std::string formatSignedOneDecimal(double value);

} // namespace orvanta
