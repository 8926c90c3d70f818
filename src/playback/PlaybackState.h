#pragma once

namespace orvanta {

// Where the player is: nothing scheduled, playing, or paused with its queue kept.
enum class PlaybackState { stopped, playing, paused };

} // namespace orvanta
