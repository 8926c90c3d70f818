#include "analyzer/TruePeakUpdate.h"

#include "analyzer/UseCaseRecommendation.h"

namespace orvanta::AudioAnalyzer {

AudioAnalysisResult withTruePeak(AudioAnalysisResult result, const TruePeak& peak) {
    auto& details = result.analysisDetails;
    details.truePeakLevel = peak.truePeakLevel;
    details.truePeakDB = peak.truePeakDB;
    UseCaseRecommendation recommendation = recommendUseCase(details.lufsIntegrated, details.truePeakDB);
    details.recommendedUseCase = std::move(recommendation.recommendedUseCase);
    details.recommendedTargetLUFS = recommendation.recommendedTargetLUFS;
    details.recommendationNote = std::move(recommendation.recommendationNote);
    return result;
}

AudioAnalysisResult analyzeFileWithPeak(const std::filesystem::path& path, const ProgressCallback& progress,
                                        const CancellationQuery& isCancelled) {
    AudioAnalysisResult result = analyzeFile(path, progress, isCancelled);
    return withTruePeak(std::move(result), measureTruePeak(path, isCancelled));
}

} // namespace orvanta::AudioAnalyzer
