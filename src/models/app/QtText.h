#pragma once

#include <QString>

#include <string_view>

namespace orvanta {

// The UTF-8 text of a view (labels, names, alert texts of the plain C++ layers) as a QString.
inline QString qtText(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

} // namespace orvanta
