#include "models/playback/PlayerNodeFactory.h"

#include "models/playback/NullPlayerNode.h"
#include "models/playback/QAudioSinkPlayerNode.h"

#include <QMediaDevices>

namespace orvanta {

std::unique_ptr<PlayerNode> makeDefaultPlayerNode() {
    if (qEnvironmentVariable("ORVANTA_AUDIO_OUTPUT") == QLatin1String("null")) {
        return std::make_unique<NullPlayerNode>();
    }
    QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        return std::make_unique<NullPlayerNode>();
    }
    return std::make_unique<QAudioSinkPlayerNode>(std::move(device));
}

} // namespace orvanta
