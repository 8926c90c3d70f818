#include "app/TransportBar.h"

#include "models/app/ResultTransport.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <cmath>

namespace orvanta {

TransportBar::TransportBar(ResultTransport& transport, QWidget* parent) : QWidget(parent), transport_(transport) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    playPause_ = new QPushButton;
    playPause_->setObjectName(QStringLiteral("transportPlay"));
    playPause_->setToolTip(QStringLiteral("Play or pause the chosen version (Space)"));
    connect(playPause_, &QPushButton::clicked, &transport_, &ResultTransport::playPause);
    layout->addWidget(playPause_);

    // A and B as one segmented switch; the key A flips it.
    original_ = new QPushButton(QStringLiteral("A  Original"));
    processed_ = new QPushButton;
    setProcessedName(QStringLiteral("Processed"));
    auto* versions = new QButtonGroup(this);
    versions->setExclusive(true);
    for (QPushButton* button : {original_, processed_}) {
        button->setCheckable(true);
        button->setObjectName(QStringLiteral("segmentButton"));
        button->setToolTip(QStringLiteral("Switch between original and processed at the same position (A)"));
        versions->addButton(button);
        layout->addWidget(button);
    }
    layout->setSpacing(6);
    original_->setAccessibleName(QStringLiteral("Listen to the original"));
    connect(original_, &QPushButton::clicked, this, [this] {
        if (!transport_.originalSelected()) transport_.switchVersion();
    });
    connect(processed_, &QPushButton::clicked, this, [this] {
        if (transport_.originalSelected()) transport_.switchVersion();
    });

    time_ = new QLabel;
    time_->setObjectName(QStringLiteral("transportTime"));
    time_->setAccessibleName(QStringLiteral("Playback position"));
    layout->addWidget(time_);

    connect(&transport_, &ResultTransport::positionChanged, this, &TransportBar::refresh);
    connect(&transport_, &ResultTransport::durationChanged, this, &TransportBar::refresh);
    connect(&transport_, &ResultTransport::playingChanged, this, &TransportBar::refresh);
    connect(&transport_, &ResultTransport::originalSelectedChanged, this, &TransportBar::refresh);
    refresh();
}

QString TransportBar::timeText() const { return time_->text(); }

void TransportBar::setProcessedName(const QString& name) {
    processed_->setText(QStringLiteral("B  ") + name);
    processed_->setAccessibleName(QStringLiteral("Listen to the ") + name.toLower());
}

QString TransportBar::clockText(double seconds) {
    const long long whole = std::isfinite(seconds) && seconds > 0 ? (long long)std::floor(seconds) : 0;
    const long long hours = whole / 3600;
    const long long minutes = (whole / 60) % 60;
    const long long secs = whole % 60;
    if (hours > 0) return QString::asprintf("%lld:%02lld:%02lld", hours, minutes, secs);
    return QString::asprintf("%lld:%02lld", minutes, secs);
}

void TransportBar::refresh() {
    const bool playing = transport_.isPlaying();
    playPause_->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    playPause_->setAccessibleName(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    original_->setChecked(transport_.originalSelected());
    processed_->setChecked(!transport_.originalSelected());
    time_->setText(clockText(transport_.positionSeconds()) + QStringLiteral(" / ") +
                   clockText(transport_.durationSeconds()));
}

} // namespace orvanta
