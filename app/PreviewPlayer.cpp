#include "app/PreviewPlayer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

#include "app/PreviewFeed.h"
#include "disk/DiskTypes.h"

namespace korvo {

CPreviewPlayer::CPreviewPlayer(QObject* parent) : QObject(parent) {
    ticker_.setInterval(40);
    connect(&ticker_, &QTimer::timeout, this, &CPreviewPlayer::report);
}

CPreviewPlayer::~CPreviewPlayer() {
    stop();
}

bool CPreviewPlayer::play(std::unique_ptr<CTrackSamples> samples, std::uint32_t startBlock) {
    stop();
    problem_.clear();
    if (!samples) {
        problem_ = "Nothing to play: choose a song and a virtual track first.";
        return false;
    }
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        problem_ = "No audio output found, so the tracks cannot be played here.";
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(static_cast<int>(samples->sampleRate()));
    format.setChannelCount(samples->channels());
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) {
        problem_ = QString("The audio output \"%1\" cannot play %2 Hz with %3 channel(s).")
                       .arg(device.description())
                       .arg(format.sampleRate())
                       .arg(format.channelCount());
        return false;
    }
    feed_ = std::make_unique<CPreviewFeed>(std::move(samples), startBlock);
    if (!feed_->open(QIODevice::ReadOnly)) {
        feed_.reset();
        problem_ = "The tracks cannot be read from the disk.";
        return false;
    }
    sink_ = new QAudioSink(device, format, this);
    connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::IdleState && feed_ && feed_->atEnd()) {
            stop();
        } else if (state == QAudio::StoppedState && sink_ != nullptr &&
                   sink_->error() != QAudio::NoError) {
            problem_ = "The audio output stopped with an error.";
            stop();
        }
    });
    sink_->start(feed_.get());
    if (sink_->error() != QAudio::NoError) {
        problem_ =
            QString("The audio output \"%1\" could not be opened.").arg(device.description());
        stop();
        return false;
    }
    ticker_.start();
    emit positionChanged(startBlock);
    return true;
}

void CPreviewPlayer::report() {
    if (sink_ == nullptr || !feed_) {
        return;
    }
    const qint64 frames = sink_->processedUSecs() * feed_->sampleRate() / 1000000;
    emit positionChanged(feed_->startBlock() +
                         static_cast<std::uint32_t>(frames / kFramesPerBlock));
}

void CPreviewPlayer::stop() {
    ticker_.stop();
    if (sink_ == nullptr && !feed_) {
        return;
    }
    if (sink_ != nullptr) {
        QAudioSink* sink = sink_;
        sink_ = nullptr;
        sink->disconnect(this);
        sink->stop();
        sink->deleteLater();
    }
    feed_.reset();
    emit stopped();
}

}  // namespace korvo
