#include "batch/StatusText.h"

#include <cstdio>

namespace orvanta {

std::string formatOneDecimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string formatSignedOneDecimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%+.1f", value);
    return text;
}

} // namespace orvanta
