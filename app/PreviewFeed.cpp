#include "app/PreviewFeed.h"

#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace korvo {

namespace {

constexpr int kBlocksPerChunk = 64;
constexpr std::size_t kSecondsAhead = 1;

}  // namespace

CPreviewFeed::CPreviewFeed(std::unique_ptr<CTrackSamples> samples, std::uint32_t startBlock,
                           QObject* parent)
    : QIODevice(parent),
      samples_(std::move(samples)),
      startBlock_(startBlock),
      channels_(samples_ ? samples_->channels() : 0),
      sampleRate_(samples_ ? samples_->sampleRate() : 0),
      capacity_(std::max<std::size_t>(kSecondsAhead * sampleRate_ * 2 * channels_, 4096)) {}

CPreviewFeed::~CPreviewFeed() {
    stopWorker();
}

bool CPreviewFeed::open(OpenMode mode) {
    if (!samples_ || (mode & WriteOnly) != 0 || isOpen()) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        ready_.clear();
        finished_ = false;
        failed_ = false;
        stopping_ = false;
    }
    if (!samples_->seek(startBlock_)) {
        std::lock_guard lock(mutex_);
        failed_ = true;
        finished_ = true;
    } else {
        worker_ = std::thread([this] { decode(); });
    }
    return QIODevice::open(mode | Unbuffered);
}

void CPreviewFeed::close() {
    stopWorker();
    QIODevice::close();
}

void CPreviewFeed::stopWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void CPreviewFeed::decode() {
    const std::size_t blockBytes =
        static_cast<std::size_t>(BlockBuffer::kSamples) * static_cast<std::size_t>(channels_) * 2;
    std::vector<std::int16_t> frames(BlockBuffer::kSamples * static_cast<std::size_t>(channels_));
    QByteArray chunk;
    chunk.reserve(static_cast<qsizetype>(blockBytes * kBlocksPerChunk));
    for (;;) {
        chunk.clear();
        bool more = true;
        for (int i = 0; i < kBlocksPerChunk && more; ++i) {
            more = samples_->readBlock(frames.data());
            if (more) {
                // Little-endian 16-bit samples, whatever the host's byte order.
                for (const std::int16_t sample : frames) {
                    const auto value = static_cast<std::uint16_t>(sample);
                    chunk.append(static_cast<char>(value & 0xFF));
                    chunk.append(static_cast<char>(value >> 8));
                }
            }
        }
        std::unique_lock lock(mutex_);
        ready_.append(chunk);
        if (!more) {
            finished_ = true;
            failed_ = samples_->failed();
        }
        lock.unlock();
        changed_.notify_all();
        QMetaObject::invokeMethod(
            this, [this] { emit readyRead(); }, Qt::QueuedConnection);
        if (!more) {
            return;
        }
        lock.lock();
        changed_.wait(lock, [this] {
            return stopping_ || static_cast<std::size_t>(ready_.size()) < capacity_;
        });
        if (stopping_) {
            return;
        }
    }
}

qint64 CPreviewFeed::readData(char* data, qint64 maxSize) {
    std::unique_lock lock(mutex_);
    const qint64 count = std::min<qint64>(maxSize, ready_.size());
    if (count == 0) {
        return finished_ ? -1 : 0;
    }
    std::memcpy(data, ready_.constData(), static_cast<std::size_t>(count));
    ready_.remove(0, count);
    lock.unlock();
    changed_.notify_all();
    return count;
}

qint64 CPreviewFeed::bytesAvailable() const {
    std::lock_guard lock(mutex_);
    return ready_.size() + QIODevice::bytesAvailable();
}

bool CPreviewFeed::atEnd() const {
    std::lock_guard lock(mutex_);
    return finished_ && ready_.isEmpty();
}

bool CPreviewFeed::failed() const {
    std::lock_guard lock(mutex_);
    return failed_;
}

bool CPreviewFeed::waitForReadyRead(int msecs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(msecs), [this] {
        return !ready_.isEmpty() || finished_;
    }) && !ready_.isEmpty();
}

}  // namespace korvo
