#include "models/app/AppContext.h"

#include "models/playback/PlayerNodeFactory.h"

namespace orvanta {

AppContext::AppContext(std::filesystem::path preferencesFile, std::unique_ptr<PlayerNode> output)
    : store(std::move(preferencesFile)), player(output ? std::move(output) : makeDefaultPlayerNode()),
      themes(store, hub), settings(store), eq(&player, store), reference(store),
      batch(store, status, reference, eq) {}

} // namespace orvanta
