#include "models/app/WaveformCache.h"

#include "models/engine/HandOver.h"
#include "models/engine/MainThread.h"

#include <system_error>

namespace orvanta {

WaveformCache::WaveformCache(QThreadPool& pool, QObject* parent)
    : QObject(parent), alive_(std::make_shared<std::atomic<bool>>(true)), pool_(pool) {}

// A read still running for a destroyed cache stops at its next chunk.
WaveformCache::~WaveformCache() { alive_->store(false); }

WaveformCache::Key WaveformCache::keyOf(const std::filesystem::path& file) {
    std::error_code error;
    Key key{file, std::filesystem::file_size(file, error), 0};
    if (error) key.size = 0;
    const auto modified = std::filesystem::last_write_time(file, error);
    if (!error) key.modified = static_cast<long long>(modified.time_since_epoch().count());
    return key;
}

WaveformCache::Overview WaveformCache::cached(const std::filesystem::path& file) const {
    const Key key = keyOf(file);
    for (const Entry& entry : entries_) {
        if (entry.key == key && entry.future.isFinished()) return entry.future.result();
    }
    return nullptr;
}

QFuture<WaveformCache::Overview> WaveformCache::overview(const std::filesystem::path& file) {
    const Key key = keyOf(file);
    for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
        if (entry->key == key) {
            entries_.splice(entries_.begin(), entries_, entry);
            return entries_.front().future;
        }
    }
    std::weak_ptr<std::atomic<bool>> alive = alive_;
    QFuture<Overview> future = runOnPool(pool_, [file, alive]() -> Overview {
        try {
            auto overview = std::make_shared<WaveformOverview>(computeWaveformOverview(
                file, columns, [&alive] { const auto flag = alive.lock(); return !flag || !flag->load(); }));
            return overview;
        } catch (const std::exception&) {
            return nullptr;
        }
    });
    entries_.push_front(Entry{key, future});
    if (entries_.size() > keptFiles) entries_.pop_back();
    // Finished on the main thread, so that a caller's continuation may touch widgets.
    return thenOnMainThread(future, this, [](Overview overview) { return overview; });
}

} // namespace orvanta
