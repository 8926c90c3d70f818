#include "models/eq/ReferenceTrackManager.h"

#include "eq/MatchStrength.h"
#include "models/engine/HandOver.h"
#include "models/engine/MainThread.h"
#include "platform/PreferenceStore.h"

#include <QPromise>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <memory>

namespace orvanta {

namespace {
// One second between a loaded reference and the reference switch going back off.
constexpr int referenceSwitchResetMilliseconds = 1000;
} // namespace

ReferenceTrackManager::ReferenceTrackManager(PreferenceStore& store, QThreadPool& pool, QObject* parent)
    : QObject(parent), store_(store), pool_(pool), matchStrength_(gentleMatchStrength) {
    loadSavedProfile();
    const std::optional<float> stored = store_.floatValue(matchStrengthKey);
    if (stored && isValidMatchStrength(*stored)) matchStrength_ = *stored;
}

QString ReferenceTrackManager::referenceFileName() const {
    return currentProfile_ ? QString::fromStdString(currentProfile_->referenceFileName) : QString();
}

void ReferenceTrackManager::setIsEnabled(bool enabled) {
    if (isEnabled_ != enabled) {
        isEnabled_ = enabled;
        emit isEnabledChanged();
    }
}

void ReferenceTrackManager::setMatchStrength(float percent) {
    if (!isValidMatchStrength(percent) || matchStrength_ == percent) return;
    matchStrength_ = percent;
    emit matchStrengthChanged();
}

void ReferenceTrackManager::chooseMatchStrength(float percent) {
    if (!isValidMatchStrength(percent)) return;
    setMatchStrength(percent);
    store_.setFloat(matchStrengthKey, percent);
}

void ReferenceTrackManager::setOriginalSpectrum(const QVector<float>& levels) {
    if (originalSpectrum_ != levels) {
        originalSpectrum_ = levels;
        emit originalSpectrumChanged();
    }
}

void ReferenceTrackManager::setOriginalSpectrum(const BandLevels& levels) { setOriginalSpectrum(toList(levels)); }

void ReferenceTrackManager::setMasteredSpectrum(const QVector<float>& levels) {
    if (masteredSpectrum_ != levels) {
        masteredSpectrum_ = levels;
        emit masteredSpectrumChanged();
    }
}

void ReferenceTrackManager::setMasteredSpectrum(const BandLevels& levels) { setMasteredSpectrum(toList(levels)); }

void ReferenceTrackManager::resetSpectra() {
    setMasteredSpectrum(QVector<float>(12, 0.0f));
    setOriginalSpectrum(QVector<float>(12, 0.0f));
}

void ReferenceTrackManager::setCurrentProfile(std::optional<SpectralProfile> profile) {
    if (currentProfile_ != profile) {
        currentProfile_ = std::move(profile);
        emit currentProfileChanged();
    }
}

void ReferenceTrackManager::setReferenceSpectrum(const QVector<float>& levels) {
    if (referenceSpectrum_ != levels) {
        referenceSpectrum_ = levels;
        emit referenceSpectrumChanged();
    }
}

BandLevels ReferenceTrackManager::referenceLevels() const { return toLevels(referenceSpectrum_); }

bool ReferenceTrackManager::hasUsableReference() const {
    return currentProfile_.has_value() &&
           std::any_of(referenceSpectrum_.begin(), referenceSpectrum_.end(), [](float level) { return level != 0.0f; });
}

void ReferenceTrackManager::loadSavedProfile() {
    const std::optional<PreferenceStore::Data> data = store_.dataValue(userDefaultsKey);
    if (!data) return;
    std::optional<SpectralProfile> profile = decodeSpectralProfile(std::string(data->begin(), data->end()));
    // Matching needs one level per band; a profile without them is as unusable as an undecodable one.
    if (!profile || profile->spectrum12Band.size() != 12) return;
    const QVector<float> levels(profile->spectrum12Band.begin(), profile->spectrum12Band.end());
    setCurrentProfile(std::move(profile));
    setReferenceSpectrum(levels);
}

void ReferenceTrackManager::saveProfile(const SpectralProfile& profile) {
    std::string json;
    try {
        json = encodeSpectralProfile(profile);
    } catch (const std::exception&) {
        return; // e.g. a file name that is not valid UTF-8
    }
    store_.setData(userDefaultsKey, PreferenceStore::Data(json.begin(), json.end()));
}

void ReferenceTrackManager::clearReference() {
    referencePath_.reset();
    setCurrentProfile(std::nullopt);
    store_.remove(userDefaultsKey);
}

QFuture<void> ReferenceTrackManager::loadReference(const std::filesystem::path& url) {
    auto done = std::make_shared<QPromise<void>>();
    QFuture<void> future = done->future();
    done->start();
    // The whole analysis (loudness, curve, band levels) ends before any field changes, so a failure at
    // any step leaves the manager exactly as it was.
    QFuture<ReferenceAnalysis> analysing = runOnPool(pool_, [url] { return analyzeReferenceFile(url); });
    thenOnMainThread(analysing, this, [this, done, url](QFuture<ReferenceAnalysis> analysis) {
        try {
            ReferenceAnalysis result = analysis.result();
            referenceLUFS_ = result.lufs;
            referencePath_ = url;
            const QVector<float> levels(result.profile.spectrum12Band.begin(),
                                        result.profile.spectrum12Band.end());
            setCurrentProfile(result.profile);
            setReferenceSpectrum(levels);
            saveProfile(result.profile);
        } catch (...) {
            done->setException(std::current_exception());
            done->finish();
            return;
        }
        QTimer::singleShot(referenceSwitchResetMilliseconds, this, [this, done] {
            setIsEnabled(false);
            done->finish();
        });
    });
    return future;
}

QFuture<void> ReferenceTrackManager::analyzeFileSpectrum(const std::filesystem::path& url, bool isOriginal) {
    return thenOnMainThread(compute12BandSpectrumAsync(url), this, [this, isOriginal](QFuture<BandLevels> spectrum) {
        BandLevels levels;
        try {
            levels = spectrum.result();
        } catch (...) {
            return; // a display spectrum that cannot be measured is simply not shown
        }
        if (isOriginal) {
            setOriginalSpectrum(levels);
        } else {
            setMasteredSpectrum(levels);
        }
    });
}

BandLevels ReferenceTrackManager::compute12BandSpectrum(const std::filesystem::path& url) {
    return ::orvanta::compute12BandSpectrum(url);
}

QFuture<BandLevels> ReferenceTrackManager::compute12BandSpectrumAsync(const std::filesystem::path& url) {
    return runOnPool(pool_, [url] { return ::orvanta::compute12BandSpectrum(url); });
}

std::vector<EQBand> ReferenceTrackManager::matchReferenceEQ(const BandLevels& reference, const BandLevels& file) {
    return ::orvanta::matchReferenceEQ(reference, file);
}

QVector<float> ReferenceTrackManager::toList(const BandLevels& levels) {
    return QVector<float>(levels.begin(), levels.end());
}

BandLevels ReferenceTrackManager::toLevels(const QVector<float>& list) {
    BandLevels levels{};
    std::copy_n(list.begin(), std::min<qsizetype>(list.size(), qsizetype(levels.size())), levels.begin());
    return levels;
}

} // namespace orvanta
