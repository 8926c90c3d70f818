#pragma once

// Models only (QtCore, QtConcurrent).

#include "eq/MatchStrength.h"
#include "eq/ReferenceSpectrum.h"

#include <QFuture>
#include <QObject>
#include <QString>
#include <QVector>

#include <filesystem>
#include <optional>

class QThreadPool;

namespace orvanta {

class PreferenceStore;

// The loaded reference recording and the 12-band spectra shown beside it. The profile is kept in the
// preference store across runs. Analyses run on the pool it is given; every published field changes
// on the main thread. Main thread only (except the static analysis helpers); no locks. The futures of
// loadReference / analyzeFileSpectrum finish through the main event loop: never block the main thread
// on them (use a QFutureWatcher or a continuation).
class ReferenceTrackManager : public QObject {
    Q_OBJECT
    // currentProfile is exposed to bindings through hasProfile / referenceFileName.
    Q_PROPERTY(bool hasProfile READ hasProfile NOTIFY currentProfileChanged)
    Q_PROPERTY(QString referenceFileName READ referenceFileName NOTIFY currentProfileChanged)
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setIsEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(QVector<float> referenceSpectrum READ referenceSpectrum NOTIFY referenceSpectrumChanged)
    Q_PROPERTY(QVector<float> originalSpectrum READ originalSpectrum WRITE setOriginalSpectrum NOTIFY
                   originalSpectrumChanged)
    Q_PROPERTY(QVector<float> masteredSpectrum READ masteredSpectrum WRITE setMasteredSpectrum NOTIFY
                   masteredSpectrumChanged)
    Q_PROPERTY(float matchStrength READ matchStrength WRITE setMatchStrength NOTIFY matchStrengthChanged)

public:
    static constexpr const char* userDefaultsKey = "Orvanta_ReferenceSpectralProfile";
    // The chosen match strength in percent (float); absent or invalid means Gentle.
    static constexpr const char* matchStrengthKey = orvanta::matchStrengthKey;
    static constexpr int fftSize = 8192;
    static constexpr float sampleRate = 44100.0f;

    // Starts with no profile, isEnabled false and three lists of 12 zeros, then loadSavedProfile(), and
    // the stored match strength (Gentle when absent, not a float or outside 0…100).
    // The store must outlive the manager.
    // Profiles are measured on `pool`.
    ReferenceTrackManager(PreferenceStore& store, QThreadPool& pool, QObject* parent = nullptr);

    const std::optional<SpectralProfile>& currentProfile() const { return currentProfile_; }
    bool hasProfile() const { return currentProfile_.has_value(); }
    QString referenceFileName() const; // empty without a profile
    bool isEnabled() const { return isEnabled_; }
    void setIsEnabled(bool enabled);
    QVector<float> referenceSpectrum() const { return referenceSpectrum_; }
    QVector<float> originalSpectrum() const { return originalSpectrum_; }
    void setOriginalSpectrum(const QVector<float>& levels);
    void setOriginalSpectrum(const BandLevels& levels);
    QVector<float> masteredSpectrum() const { return masteredSpectrum_; }
    void setMasteredSpectrum(const QVector<float>& levels);
    void setMasteredSpectrum(const BandLevels& levels);
    // Both display spectra back to 12 zeros (the batch processor starting over).
    void resetSpectra();
    // How much of the measured difference a reference pass corrects, percent (MatchStrength.h).
    float matchStrength() const { return matchStrength_; }
    // For this run only (the command line); an invalid value is ignored.
    void setMatchStrength(float percent);
    // The user's choice: set and stored under matchStrengthKey. An invalid value is ignored.
    void chooseMatchStrength(float percent);
    // The file the current profile was measured from, when it was loaded in this session (a profile
    // restored from the preferences has none). Never written: exports refuse to replace it.
    const std::optional<std::filesystem::path>& referencePath() const { return referencePath_; }
    // Integrated loudness of the reference in LUFS, measured when it was loaded (not published).
    std::optional<float> referenceLUFS() const { return referenceLUFS_; }

    // referenceSpectrum as band levels (list entries beyond 12 are ignored, missing ones are 0).
    BandLevels referenceLevels() const;
    // Reference matching applies: a profile is loaded and referenceSpectrum is not all zeros.
    bool hasUsableReference() const;

    // Reads the profile under userDefaultsKey; when present and decodable (12 band levels), it becomes
    // currentProfile and its spectrum12Band the referenceSpectrum. Otherwise nothing changes.
    void loadSavedProfile();
    // JSON-encodes the profile and stores it as data under userDefaultsKey; writes nothing when
    // encoding fails.
    void saveProfile(const SpectralProfile& profile);
    // No profile, and the stored one removed. referenceSpectrum keeps its values.
    void clearReference();

    // Analyses the file off the main thread (analyzeReferenceFile), then on the main thread sets
    // referenceLUFS, currentProfile and referenceSpectrum and saves the profile; one second later sets
    // isEnabled to false, and the future finishes. On failure the future holds the orvanta::Error
    // (waitForFinished() rethrows it) and nothing changes. Cancelled if the manager is destroyed first.
    QFuture<void> loadReference(const std::filesystem::path& url);
    // 12-band levels of the file off the main thread, stored on the main thread in originalSpectrum
    // (isOriginal) or masteredSpectrum. Errors are dropped and change nothing; the future finishes
    // either way.
    QFuture<void> analyzeFileSpectrum(const std::filesystem::path& url, bool isOriginal);
    // The 12-band levels of a file (core compute12BandSpectrum). Any thread; throws orvanta::Error.
    static BandLevels compute12BandSpectrum(const std::filesystem::path& url);
    // The same on the pool; the future holds the levels or the orvanta::Error.
    QFuture<BandLevels> compute12BandSpectrumAsync(const std::filesystem::path& url);
    // The 12 bands of the matching rule (core matchReferenceEQ).
    static std::vector<EQBand> matchReferenceEQ(const BandLevels& reference, const BandLevels& file);

    static QVector<float> toList(const BandLevels& levels);
    static BandLevels toLevels(const QVector<float>& list);

signals:
    void currentProfileChanged();
    void isEnabledChanged();
    void referenceSpectrumChanged();
    void originalSpectrumChanged();
    void masteredSpectrumChanged();
    void matchStrengthChanged();

private:
    void setCurrentProfile(std::optional<SpectralProfile> profile);
    void setReferenceSpectrum(const QVector<float>& levels);

    PreferenceStore& store_;
    QThreadPool& pool_;
    std::optional<SpectralProfile> currentProfile_;
    bool isEnabled_ = false;
    QVector<float> referenceSpectrum_ = QVector<float>(12, 0.0f);
    QVector<float> originalSpectrum_ = QVector<float>(12, 0.0f);
    QVector<float> masteredSpectrum_ = QVector<float>(12, 0.0f);
    std::optional<float> referenceLUFS_;
    std::optional<std::filesystem::path> referencePath_;
    float matchStrength_;
};

} // namespace orvanta
