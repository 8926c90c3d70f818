#include "app/LoudnessToolTip.h"

#include "engine/Bs1770Meter.h"

#include <cmath>

namespace orvanta {

QString loudnessToolTip(std::optional<double> meterLufs) {
    QString tip = QStringLiteral("Loudness on this meter, which reads 0.5 LU below BS.1770.");
    if (meterLufs && std::isfinite(*meterLufs))
        tip += QString::asprintf(" A BS.1770 meter and the streaming services read %.1f LUFS.", bs1770Loudness(*meterLufs));
    return tip;
}

} // namespace orvanta
