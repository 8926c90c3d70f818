#include "analyzer/UseCaseRecommendation.h"

#include <cmath>

namespace orvanta::AudioAnalyzer {

UseCaseRecommendation recommendUseCase(double lufs, double truePeakDB) {
    // Strictly nearer only: a tie keeps the earlier (quieter) use case.
    const UseCaseTarget* best = &useCaseTargets.front();
    for (const auto& candidate : useCaseTargets) {
        if (std::fabs(candidate.targetLUFS - lufs) < std::fabs(best->targetLUFS - lufs)) {
            best = &candidate;
        }
    }

    const double d = lufs - best->targetLUFS;
    std::string note;
    if (std::fabs(d) <= 1.5) {
        note = "Nivel apropiat de tinta";
    } else if (d > 0) {
        note = "Putin prea tare pentru " + std::string(best->name);
    } else {
        note = "Putin prea incet pentru " + std::string(best->name);
    }
    if (truePeakDB > -1.0) {
        note += " • ";
        note += "True-peak peste -1 dBTP";
    }
    return {std::string(best->name), best->targetLUFS, note};
}

} // namespace orvanta::AudioAnalyzer
