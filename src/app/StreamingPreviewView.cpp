#include "app/StreamingPreviewView.h"

#include "app/LoudnessToolTip.h"
#include "batch/StreamingPreview.h"
#include "engine/Bs1770Meter.h"

#include <QLabel>
#include <QVBoxLayout>

#include <cmath>

namespace orvanta {

StreamingPreviewView::StreamingPreviewView(QWidget* parent) : QGroupBox(QStringLiteral("Streaming"), parent) {
    setAccessibleName(QStringLiteral("Streaming"));
    auto* layout = new QVBoxLayout(this);
    table_ = new QLabel;
    table_->setTextFormat(Qt::RichText);
    table_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(table_);
    note_ = new QLabel;
    note_->setObjectName(QStringLiteral("technicalLine"));
    note_->setWordWrap(true);
    layout->addWidget(note_);
    layout->addStretch();
    render();
}

void StreamingPreviewView::setProcessed(const std::optional<AudioStats>& processed) {
    processed_ = processed;
    render();
}

void StreamingPreviewView::setHighlightColour(QColor colour) {
    highlight_ = colour;
    render();
}

QString StreamingPreviewView::text() const { return lines_.join(QLatin1Char('\n')); }

QStringList StreamingPreviewView::highlighted() const { return highlighted_; }

void StreamingPreviewView::render() {
    lines_.clear();
    highlighted_.clear();
    const bool measured = processed_ && processed_->measurability == Measurability::measurable &&
                          std::isfinite(processed_->lufs);
    if (!measured) {
        table_->setText(QStringLiteral("--"));
        note_->clear();
        setToolTip({});
        return;
    }
    const double lufs = bs1770Loudness(processed_->lufs);
    QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"1\"><tr><td>Service</td>"
                                  "<td align=\"right\">&nbsp;Plays at</td><td align=\"right\">&nbsp;Change</td></tr>");
    QStringList notes;
    for (const StreamingPlayback& playback : previewStreaming(lufs, processed_->truePeak)) {
        const QString name = QString::fromUtf8(playback.service->name.data(), qsizetype(playback.service->name.size()));
        QStringList why;
        if (playback.givesLoudnessAway) why << QStringLiteral("loudness given away");
        if (playback.mayClip) why << QStringLiteral("true peak %1 dBTP will clip").arg(playback.playedTruePeakDbtp, 0, 'f', 1);
        const bool uncertain = !playback.service->uncertainty.empty();
        if (uncertain) notes << QStringLiteral("%1: %2").arg(name, QString::fromUtf8(playback.service->uncertainty.data(),
                                                                                      qsizetype(playback.service->uncertainty.size())));
        const QString plays = QString::asprintf("%.1f LUFS", playback.playsAtLufs);
        const QString change = QString::asprintf("%+.1f dB", playback.gainDb);
        QString row = QStringLiteral("<td>%1%2</td><td align=\"right\">&nbsp;%3</td><td align=\"right\">&nbsp;%4</td>")
                          .arg(name, uncertain ? QStringLiteral("?") : QString(), plays, change);
        if (!why.isEmpty()) {
            highlighted_ << name;
            html += QStringLiteral("<tr style=\"color:%1; font-weight:bold\" title=\"%2\">%3</tr>")
                        .arg(highlight_.name(), why.join(QStringLiteral(", ")), row);
        } else {
            html += QStringLiteral("<tr>") + row + QStringLiteral("</tr>");
        }
        lines_ << QStringLiteral("%1: plays at %2, %3").arg(name, plays, change) +
                      (why.isEmpty() ? QString() : QStringLiteral(" (") + why.join(QStringLiteral(", ")) + QStringLiteral(")"));
    }
    html += QStringLiteral("</table>");
    table_->setText(html);
    note_->setText(notes.isEmpty() ? QString() : QStringLiteral("? ") + notes.join(QStringLiteral("; ")));
    setToolTip(QStringLiteral("From the BS.1770 loudness (%1 LUFS) and true peak (%2 dBTP) of the processed version. ")
                   .arg(lufs, 0, 'f', 1)
                   .arg(double(processed_->truePeak), 0, 'f', 1) +
               loudnessToolTip(double(processed_->lufs)));
}

} // namespace orvanta
