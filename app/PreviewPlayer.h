#pragma once
// Plays the selected virtual tracks through the default audio output, fed by a CPreviewFeed,
// and reports where the play head is. Without an audio output it refuses with a message that
// says so instead of waiting for a device.
//
//   CPreviewPlayer player;
//   connect(&player, &CPreviewPlayer::positionChanged, strip, &CWaveformStrip::setPlayHead);
//   if (!player.play(CTrackSamples::fromConverter(converter), block)) show(player.problem());

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

#include "app/TrackSamples.h"

class QAudioSink;

namespace korvo {

class CPreviewFeed;

class CPreviewPlayer : public QObject {
    Q_OBJECT

public:
    explicit CPreviewPlayer(QObject* parent = nullptr);
    ~CPreviewPlayer() override;

    // Starts at a block of the export range; false (problem() says why) when it cannot play.
    bool play(std::unique_ptr<CTrackSamples> samples, std::uint32_t startBlock);
    void stop();
    bool isPlaying() const { return sink_ != nullptr; }
    const QString& problem() const { return problem_; }

signals:
    // The block being heard, a few times a second while playing.
    void positionChanged(std::uint32_t block);
    void stopped();

private:
    void report();

    std::unique_ptr<CPreviewFeed> feed_;
    QAudioSink* sink_ = nullptr;
    QTimer ticker_;
    QString problem_;
};

}  // namespace korvo
