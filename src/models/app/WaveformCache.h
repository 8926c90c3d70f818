#pragma once

// Models only (QtCore).

#include "models/app/WaveformOverview.h"

#include <QFuture>
#include <QObject>

#include <atomic>
#include <filesystem>
#include <list>
#include <memory>

class QThreadPool;

namespace orvanta {

// Waveform overviews of files, computed once per file on the background pool and kept for the next
// request. A file is known by its path, size and modification time, so a rewritten file is read again.
// Main thread.
class WaveformCache : public QObject {
    Q_OBJECT

public:
    using Overview = std::shared_ptr<const WaveformOverview>;

    static constexpr size_t columns = 4096;   // enough for a full-width overview at device-pixel ratio 2
    static constexpr size_t keptFiles = 6;

    // Files are read on `pool`.
    explicit WaveformCache(QThreadPool& pool, QObject* parent = nullptr);
    ~WaveformCache() override;

    // The overview of `file`: finished at once when cached, else when the background read is done (on
    // the main thread). A file that cannot be read gives a null overview.
    QFuture<Overview> overview(const std::filesystem::path& file);
    // The cached overview, or null.
    Overview cached(const std::filesystem::path& file) const;

private:
    struct Key {
        std::filesystem::path path;
        uintmax_t size = 0;
        long long modified = 0; // file clock ticks
        bool operator==(const Key&) const = default;
    };
    struct Entry {
        Key key;
        QFuture<Overview> future;
    };
    static Key keyOf(const std::filesystem::path& file);

    std::list<Entry> entries_; // most recently used first
    std::shared_ptr<std::atomic<bool>> alive_; // false once the cache is gone; asked by reads on the pool
    QThreadPool& pool_;
};

} // namespace orvanta
