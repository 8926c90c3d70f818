#include "models/analyzer/AnalyzerSessionStore.h"

namespace orvanta {

AnalyzerSessionStore::AnalyzerSessionStore(QObject* parent) : QObject(parent) {}

void AnalyzerSessionStore::setBaseline(std::optional<AudioAnalysisResult> baseline) {
    if (baseline == baseline_) {
        return;
    }
    baseline_ = std::move(baseline);
    emit baselineChanged();
}

} // namespace orvanta
