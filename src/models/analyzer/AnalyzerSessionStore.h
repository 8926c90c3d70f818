#pragma once

// Models only (QtCore).

#include "analyzer/AudioAnalysisResult.h"

#include <QObject>

#include <optional>

namespace orvanta {

// The baseline of an analyzer panel: the analysis of the unprocessed version of the song, used to
// compare a mastered file with its original. Owned by the panel and lives as long as it does.
// Main thread only.
class AnalyzerSessionStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasBaseline READ hasBaseline NOTIFY baselineChanged)

public:
    explicit AnalyzerSessionStore(QObject* parent = nullptr);

    const std::optional<AudioAnalysisResult>& baseline() const { return baseline_; }
    bool hasBaseline() const { return baseline_.has_value(); }
    // Emits baselineChanged only when the value changes.
    void setBaseline(std::optional<AudioAnalysisResult> baseline);
    void clearBaseline() { setBaseline(std::nullopt); }

signals:
    void baselineChanged();

private:
    std::optional<AudioAnalysisResult> baseline_;
};

} // namespace orvanta
