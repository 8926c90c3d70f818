#include "models/playback/QAudioSinkPlayerNode.h"

#include "models/playback/PlaybackSourceDevice.h"
#include "platform/AudioFileReader.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QMetaObject>

#include <algorithm>
#include <cstdio>

namespace orvanta {

namespace {

constexpr double deviceBufferSeconds = 0.2;

DeviceSampleFormat toDeviceFormat(QAudioFormat::SampleFormat format) {
    switch (format) {
    case QAudioFormat::UInt8: return DeviceSampleFormat::uint8;
    case QAudioFormat::Int16: return DeviceSampleFormat::int16;
    case QAudioFormat::Int32: return DeviceSampleFormat::int32;
    default: return DeviceSampleFormat::float32;
    }
}

} // namespace

QAudioSinkPlayerNode::QAudioSinkPlayerNode(QAudioDevice device) : device_(std::move(device)) {
    audioThread_.setObjectName(QStringLiteral("audio output"));
    audioContext_ = new QObject();
    audioContext_->moveToThread(&audioThread_);
    audioThread_.start(QThread::TimeCriticalPriority);
}

QAudioSinkPlayerNode::~QAudioSinkPlayerNode() {
    queue_->setConsuming(false);
    onAudioThread([this] { closeSink(); }, true);
    audioThread_.quit();
    audioThread_.wait();
    delete audioContext_;
    queue_->clear(); // notices of what never played are not delivered once the node is gone
}

template <typename Work>
void QAudioSinkPlayerNode::onAudioThread(Work&& work, bool wait) {
    QMetaObject::invokeMethod(audioContext_, std::forward<Work>(work),
                              wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void QAudioSinkPlayerNode::connect(const AudioFormat& format) { format_ = format; }

void QAudioSinkPlayerNode::disconnect() { format_.channelCount = 0; }

bool QAudioSinkPlayerNode::start() {
    if (running_) {
        return true;
    }
    bool opened = false;
    onAudioThread([this, &opened, format = format_, volume = volume_] { opened = openSink(format, volume); }, true);
    running_ = opened;
    return running_;
}

void QAudioSinkPlayerNode::shutdown() {
    stop();
    onAudioThread([this] { closeSink(); }, true);
    running_ = false;
}

void QAudioSinkPlayerNode::setVolume(float volume) {
    volume_ = volume;
    onAudioThread([this, volume] {
        if (sink_ != nullptr) {
            sink_->setVolume(volume);
        }
    }, false);
}

void QAudioSinkPlayerNode::scheduleSegment(const std::filesystem::path& file, uint32_t startFrame,
                                           uint32_t frameCount) {
    queue_->scheduleSegment(std::make_unique<AudioFileReader>(file), startFrame, frameCount);
}

void QAudioSinkPlayerNode::scheduleBuffer(std::shared_ptr<const AudioBuffer> buffer, CompletionNotice notice) {
    queue_->scheduleBuffer(std::move(buffer), std::move(notice));
}

void QAudioSinkPlayerNode::play() {
    playing_ = true;
    queue_->setConsuming(true);
    onAudioThread([this] {
        if (sink_ != nullptr && sink_->state() == QAudio::SuspendedState) {
            sink_->resume();
        }
    }, false);
}

void QAudioSinkPlayerNode::pause() {
    playing_ = false;
    queue_->setConsuming(false);
    onAudioThread([this] {
        if (sink_ != nullptr) {
            sink_->suspend();
        }
    }, false);
}

void QAudioSinkPlayerNode::stop() {
    playing_ = false;
    queue_->setConsuming(false);
    auto dropped = queue_->clear();
    // Restarting the sink discards what the device has buffered, so nothing of the old queue is heard
    // after a seek.
    onAudioThread([this] {
        if (sink_ != nullptr && source_ != nullptr) {
            sink_->stop();
            sink_->start(source_);
        }
    }, false);
    for (auto& notice : dropped) {
        notice();
    }
}

bool QAudioSinkPlayerNode::openSink(AudioFormat format, float volume) {
    closeSink();
    const int maxChannels = std::max(device_.maximumChannelCount(), 1);
    const int wantedChannels = std::clamp(int(format.channelCount == 0 ? 2 : format.channelCount), 1, maxChannels);
    const int rate = int(format.sampleRate > 0 ? format.sampleRate : 44100.0);

    QAudioFormat chosen;
    bool found = false;
    for (int channels : {wantedChannels, 2}) {
        for (auto sampleFormat : {QAudioFormat::Float, QAudioFormat::Int32, QAudioFormat::Int16, QAudioFormat::UInt8}) {
            QAudioFormat candidate;
            candidate.setSampleRate(rate);
            candidate.setChannelCount(channels);
            candidate.setSampleFormat(sampleFormat);
            if (device_.isFormatSupported(candidate)) {
                chosen = candidate;
                found = true;
                break;
            }
        }
        if (found) {
            break;
        }
    }
    if (!found) {
        std::printf("[AudioPlayer] The output device does not accept %d Hz audio\n", rate);
        std::fflush(stdout);
        return false;
    }

    source_ = new PlaybackSourceDevice(queue_, uint32_t(chosen.channelCount()), toDeviceFormat(chosen.sampleFormat()),
                                       audioContext_);
    source_->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    sink_ = new QAudioSink(device_, chosen, audioContext_);
    sink_->setBufferSize(qsizetype(chosen.bytesPerFrame() * rate * deviceBufferSeconds));
    sink_->setVolume(volume);
    sink_->start(source_);
    if (sink_->error() != QAudio::NoError || sink_->state() == QAudio::StoppedState) {
        closeSink();
        return false;
    }
    return true;
}

void QAudioSinkPlayerNode::closeSink() {
    if (sink_ != nullptr) {
        sink_->stop();
        delete sink_;
        sink_ = nullptr;
    }
    if (source_ != nullptr) {
        source_->close();
        delete source_;
        source_ = nullptr;
    }
}

} // namespace orvanta
