#include "models/app/AppContext.h"

#include "models/playback/PlayerNodeFactory.h"

namespace orvanta {

AppContext::AppContext(std::filesystem::path preferencesFile, std::unique_ptr<PlayerNode> output)
    : store(std::move(preferencesFile)), player(output ? std::move(output) : makeDefaultPlayerNode()),
      themes(store, hub), settings(store), eq(&player, store), reference(store, pool),
      batch(store, status, reference, eq, pool) {}

AppContext::~AppContext() { pool.waitForDone(); }

} // namespace orvanta
