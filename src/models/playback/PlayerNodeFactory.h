#pragma once

// Models only (QtMultimedia).

#include "playback/PlayerNode.h"

#include <memory>

namespace orvanta {

// The output path of this machine: Qt Multimedia's sink on the default output device when one is
// usable and ORVANTA_AUDIO_OUTPUT is not "null", otherwise a NullPlayerNode. Main thread.
std::unique_ptr<PlayerNode> makeDefaultPlayerNode();

} // namespace orvanta
