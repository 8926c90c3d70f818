#pragma once

#include <QString>

#include <optional>

namespace orvanta {

// The tooltip of a loudness figure of the window: the figures are on this meter, which reads 0.5 LU
// below BS.1770; with the figure, what a BS.1770 meter (and a streaming service) reads for it.
QString loudnessToolTip(std::optional<double> meterLufs = std::nullopt);

} // namespace orvanta
