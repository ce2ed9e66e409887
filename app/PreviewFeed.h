#pragma once
// The preview's audio: the export's samples of the selected virtual tracks from a chosen block
// on, as 16-bit little-endian PCM frames (one channel per virtual track), read by the audio
// output as a sequential device. A worker thread decodes ahead into a bounded buffer, so that
// the window thread never waits for the disk; reading takes what is there and never blocks.
//
//   CPreviewFeed feed(CTrackSamples::fromConverter(converter), startBlock);
//   feed.open(QIODevice::ReadOnly);        // starts decoding
//   sink.start(&feed);

#include <QIODevice>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "app/TrackSamples.h"

namespace korvo {

class CPreviewFeed : public QIODevice {
    Q_OBJECT

public:
    CPreviewFeed(std::unique_ptr<CTrackSamples> samples, std::uint32_t startBlock,
                 QObject* parent = nullptr);
    ~CPreviewFeed() override;

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    bool atEnd() const override;
    bool waitForReadyRead(int msecs) override;

    int channels() const { return channels_; }
    std::uint32_t sampleRate() const { return sampleRate_; }
    std::uint32_t startBlock() const { return startBlock_; }
    // True when a take could not be read (the feed then ends early).
    bool failed() const;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    void decode();
    void stopWorker();

    std::unique_ptr<CTrackSamples> samples_;
    const std::uint32_t startBlock_;
    const int channels_;
    const std::uint32_t sampleRate_;
    const std::size_t capacity_;  // bytes decoded ahead at most

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    QByteArray ready_;  // decoded and not yet read
    bool finished_ = false;
    bool failed_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace korvo
