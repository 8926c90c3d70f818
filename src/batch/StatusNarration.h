#pragma once

// Part of the status manager (models library): the only place where a run's events become words.

#include "batch/MasteringEvent.h"
#include "engine/StatusReporter.h"

#include <string>

namespace orvanta {

// Says `event` to `status` as the processing screen shows it: the stage with its message and
// technical line, and the checklist lines with their values and icons. Any thread; calls `status`
// on the calling thread, in the order the screen applies them.
void narrate(const MasteringEvent& event, StatusReporter& status);

// The stage message for a loudness distance d = target − input (LU).
std::string deltaMessage(float d);

// Why a target stayed out of reach when the gain came to its bound (dB): "the target of -8.0 LUFS
// would need more than +87.1 dB of gain; no song needs that much: the input is mostly silence or
// isolated peaks".
std::string gainLimitText(float targetLUFS, float gainLimitDb);

} // namespace orvanta
