#pragma once

#include <QGroupBox>

#include <filesystem>
#include <optional>

class QLabel;

class QThreadPool;

namespace orvanta {

// A card naming one audio file with what it holds: "3:12 · 44.1 kHz · 24-bit · Stereo" (read off the
// main thread), and its loudness and true peak once they are measured. Main thread.
class AudioFileCard : public QGroupBox {
    Q_OBJECT

public:
    // The format line is read on `pool`.
    AudioFileCard(QString title, QThreadPool& pool, QWidget* parent = nullptr);

    // The file shown (empty: the card says `emptyText`); its format line follows when read.
    void setFile(const std::filesystem::path& file, const QString& emptyText);
    // A file known by its name only: no format line.
    void setName(const QString& name);
    // Loudness in LUFS and true peak in dBTP; either may be unknown.
    void setMeasurements(std::optional<double> lufs, std::optional<double> truePeak);

    QString nameText() const;
    QString formatText() const;
    QString measurementText() const;

    // "3:12 · 44.1 kHz · 24-bit · Stereo" for a file of these facts.
    static QString describe(double seconds, double sampleRate, unsigned channels, std::optional<int> bitDepth,
                            bool floatingPoint);

private:
    QLabel* name_;
    QLabel* format_;
    QLabel* measurements_;
    std::filesystem::path file_;
    QThreadPool& pool_;
};

} // namespace orvanta
