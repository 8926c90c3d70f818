#include "app/AppContext.h"

#include "playback/AudioPlayerManager.h"

namespace orvanta {

AppContext::AppContext(PreferenceStore& preferences, AudioPlayerManager& audioPlayer)
    : store(preferences), player(audioPlayer), settings(preferences), eq(&audioPlayer), reference(preferences),
      batch(preferences, status, reference, eq) {}

} // namespace orvanta
