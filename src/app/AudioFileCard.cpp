#include "app/AudioFileCard.h"

#include "app/LoudnessToolTip.h"
#include "app/TransportBar.h"
#include "models/engine/HandOver.h"
#include "models/engine/MainThread.h"
#include "platform/AudioFileFacts.h"

#include <QLabel>
#include <QVBoxLayout>

#include <cmath>

namespace orvanta {

AudioFileCard::AudioFileCard(QString title, QThreadPool& pool, QWidget* parent)
    : QGroupBox(std::move(title), parent), pool_(pool) {
    setObjectName(QStringLiteral("card"));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(2);
    name_ = new QLabel;
    QFont bold = name_->font();
    bold.setBold(true);
    name_->setFont(bold);
    name_->setWordWrap(true);
    name_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    format_ = new QLabel;
    format_->setObjectName(QStringLiteral("technicalLine"));
    measurements_ = new QLabel;
    layout->addWidget(name_);
    layout->addWidget(format_);
    layout->addWidget(measurements_);
    setAccessibleName(this->title());
}

QString AudioFileCard::nameText() const { return name_->text(); }
QString AudioFileCard::formatText() const { return format_->text(); }
QString AudioFileCard::measurementText() const { return measurements_->text(); }

QString AudioFileCard::describe(double seconds, double sampleRate, unsigned channels, std::optional<int> bitDepth,
                                bool floatingPoint) {
    QStringList parts;
    parts << TransportBar::clockText(seconds);
    parts << QString::number(sampleRate / 1000.0, 'g', 4) + QStringLiteral(" kHz");
    if (bitDepth) parts << QString::number(*bitDepth) + (floatingPoint ? QStringLiteral("-bit float") : QStringLiteral("-bit"));
    parts << (channels == 1 ? QStringLiteral("Mono") : channels == 2 ? QStringLiteral("Stereo")
                                                                       : QString::number(channels) + QStringLiteral(" channels"));
    return parts.join(QStringLiteral(" \u00B7 "));
}

void AudioFileCard::setFile(const std::filesystem::path& file, const QString& emptyText) {
    if (file.empty()) {
        file_.clear();
        name_->setText(emptyText);
        format_->clear();
        measurements_->clear();
        return;
    }
    if (file == file_) return;
    file_ = file;
    name_->setText(QString::fromStdString(file.filename().string()));
    format_->setText(QStringLiteral("Reading..."));
    thenOnMainThread(runOnPool(pool_, [file]() -> std::optional<AudioFileFacts> {
        try {
            return readAudioFileFacts(file);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }), this, [this, file](const std::optional<AudioFileFacts>& facts) {
        if (file != file_) return; // another file was shown meanwhile
        if (!facts || facts->sampleRate <= 0) {
            format_->setText(QStringLiteral("Format unknown"));
            return;
        }
        QString text = describe(double(facts->lengthFrames) / facts->sampleRate, facts->sampleRate,
                                facts->channelCount, facts->bitDepth, facts->floatingPoint);
        // A cut file plays and masters as far as it goes; the card says where that is.
        if (const auto note = truncationNote(*facts)) text += QStringLiteral(" \u00B7 ") + QString::fromStdString(*note);
        format_->setText(text);
    });
}

void AudioFileCard::setName(const QString& name) {
    file_.clear();
    name_->setText(name);
    format_->clear();
}

void AudioFileCard::setMeasurements(std::optional<double> lufs, std::optional<double> truePeak) {
    QStringList parts;
    if (lufs && std::isfinite(*lufs)) parts << QString::asprintf("Loudness %.1f LUFS", *lufs);
    if (truePeak && std::isfinite(*truePeak)) parts << QString::asprintf("True peak %.1f dBTP", *truePeak);
    measurements_->setText(parts.isEmpty() ? QStringLiteral("Loudness not measured yet") : parts.join(QStringLiteral(" \u00B7 ")));
    measurements_->setToolTip(lufs && std::isfinite(*lufs) ? loudnessToolTip(*lufs) : QString());
}

} // namespace orvanta
