#pragma once

#include "engine/ProcessingTypes.h"

#include <QGroupBox>

#include <optional>

class QLabel;

namespace orvanta {

// "Streaming": how each service will play the processed version, a row per service (its name, the
// loudness it plays at, its change). A turn-down of more than 3 dB and a true peak that will clip after
// the service's lossy encoding are highlighted; a rule the service does not publish is marked, with a
// note. Main thread.
class StreamingPreviewView : public QGroupBox {
    Q_OBJECT

public:
    explicit StreamingPreviewView(QWidget* parent = nullptr);

    // The processed version's figures (this meter's loudness, true peak); none clears the table.
    void setProcessed(const std::optional<AudioStats>& processed);
    void setHighlightColour(QColor colour);

    // Every row as text, "Spotify: plays at -14.0 LUFS, -6.5 dB (loudness given away)" and so on.
    QString text() const;
    // The services highlighted.
    QStringList highlighted() const;

private:
    void render();

    QLabel* table_;
    QLabel* note_;
    std::optional<AudioStats> processed_;
    QColor highlight_ = QColor(0xd0, 0x40, 0x30);
    QStringList lines_;
    QStringList highlighted_;
};

} // namespace orvanta
