#include "app/WaveformStrip.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <limits>

#include "disk/DiskTypes.h"

namespace korvo {

namespace {

constexpr int kRulerHeight = 16;

// Every event start and end of the tracks, in blocks, each once.
std::vector<std::uint32_t> eventBoundaries(const CTrackSamples& samples) {
    std::vector<std::uint32_t> blocks;
    const CEventTable& events = samples.song().events();
    for (const std::uint8_t track : samples.tracks()) {
        int guard = 0;
        for (std::uint16_t slot = events.chain(track).head; slot != kNoSlot && guard < 65536;
             slot = events.slot(slot).next, ++guard) {
            blocks.push_back(events.slot(slot).start);
            blocks.push_back(events.slot(slot).end);
        }
    }
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    return blocks;
}

QString minutesAndSeconds(int seconds) {
    return QString("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}

}  // namespace

WavePeaks computePeaks(CTrackSamples& samples, int columns, const std::atomic<bool>* cancelled) {
    const BlockRange range = samples.range();
    const int channels = samples.channels();
    if (columns <= 0 || channels <= 0 || !samples.seek(range.start)) {
        return {};
    }
    const std::uint64_t frames = std::uint64_t{range.end - range.start} * kFramesPerBlock;
    WavePeaks peaks(static_cast<std::size_t>(channels),
                    std::vector<ColumnPeak>(static_cast<std::size_t>(columns)));
    std::vector<bool> touched(static_cast<std::size_t>(columns), false);
    std::vector<std::int16_t> block(static_cast<std::size_t>(kFramesPerBlock * channels));
    std::uint64_t frame = 0;
    while (frame < frames) {
        if (cancelled != nullptr && cancelled->load(std::memory_order_relaxed)) {
            return {};
        }
        if (!samples.readBlock(block.data())) {
            return {};
        }
        for (int i = 0; i < kFramesPerBlock; ++i, ++frame) {
            const auto column =
                static_cast<std::size_t>(frame * static_cast<std::uint64_t>(columns) / frames);
            for (int c = 0; c < channels; ++c) {
                const std::int16_t sample = block[static_cast<std::size_t>(i * channels + c)];
                ColumnPeak& peak = peaks[static_cast<std::size_t>(c)][column];
                if (!touched[column]) {
                    peak = {sample, sample};
                } else {
                    peak.min = std::min(peak.min, sample);
                    peak.max = std::max(peak.max, sample);
                }
            }
            touched[column] = true;
        }
    }
    return peaks;
}

CWaveformStrip::CWaveformStrip(QWidget* parent) : QWidget(parent) {
    setObjectName("waveform");
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setToolTip("Click to choose where playing starts; Space plays or stops");
    resizeSettle_.setSingleShot(true);
    resizeSettle_.setInterval(120);
    connect(&resizeSettle_, &QTimer::timeout, this, &CWaveformStrip::recompute);
}

CWaveformStrip::~CWaveformStrip() {
    cancelJob();
}

void CWaveformStrip::cancelJob() {
    if (jobCancelled_) {
        jobCancelled_->store(true);
    }
    if (job_.joinable()) {
        job_.join();
    }
    jobCancelled_.reset();
}

QString CWaveformStrip::cacheKey() const {
    return key_ + '@' + QString::number(width());
}

void CWaveformStrip::showTracks(const QString& key, SampleSource source) {
    if (!key.isEmpty() && key == key_) {
        return;
    }
    key_ = key;
    source_ = key.isEmpty() ? SampleSource() : std::move(source);
    recompute();
}

void CWaveformStrip::recompute() {
    cancelJob();
    ++generation_;
    peaks_.clear();
    peaksReady_ = false;
    std::unique_ptr<CTrackSamples> samples = source_ ? source_() : nullptr;
    if (!samples) {
        range_ = {};
        boundaries_.clear();
        update();
        return;
    }
    range_ = samples->range();
    sampleRate_ = samples->sampleRate() != 0 ? samples->sampleRate() : 44100;
    boundaries_ = eventBoundaries(*samples);
    playHead_ = std::clamp(playHead_, range_.start, range_.end);
    if (const auto cached = cache_.constFind(cacheKey()); cached != cache_.constEnd()) {
        peaks_ = *cached;
        peaksReady_ = true;
        update();
        return;
    }
    const int columns = std::max(1, width());
    const int generation = generation_;
    const QString key = cacheKey();
    jobCancelled_ = std::make_shared<std::atomic<bool>>(false);
    job_ = std::thread([this, columns, generation, key, cancelled = jobCancelled_,
                        shared = std::shared_ptr<CTrackSamples>(std::move(samples))] {
        WavePeaks peaks = computePeaks(*shared, columns, cancelled.get());
        if (cancelled->load()) {
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, key, peaks = std::move(peaks)] {
                cache_.insert(key, peaks);
                if (generation == generation_) {
                    peaks_ = peaks;
                    peaksReady_ = true;
                    update();
                }
            },
            Qt::QueuedConnection);
    });
    update();
}

void CWaveformStrip::setPlayHead(std::uint32_t block) {
    playHead_ = block;
    update();
}

int CWaveformStrip::columnOf(std::uint32_t block) const {
    const std::uint32_t blocks = range_.end - range_.start;
    if (blocks == 0) {
        return 0;
    }
    const std::uint32_t offset = std::clamp(block, range_.start, range_.end) - range_.start;
    return static_cast<int>(std::uint64_t{offset} * static_cast<std::uint64_t>(width()) / blocks);
}

void CWaveformStrip::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (source_) {
        resizeSettle_.start();
    }
}

void CWaveformStrip::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    const std::uint32_t blocks = range_.end - range_.start;
    if (event->button() != Qt::LeftButton || blocks == 0 || width() <= 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int x = std::clamp(static_cast<int>(event->position().x()), 0, width() - 1);
    const std::uint32_t block =
        range_.start +
        static_cast<std::uint32_t>(std::uint64_t{blocks} * static_cast<std::uint64_t>(x) /
                                   static_cast<std::uint64_t>(width()));
    setPlayHead(block);
    emit positionChosen(block);
}

void CWaveformStrip::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        event->accept();
        emit playRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CWaveformStrip::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Base));
    const int lanesTop = kRulerHeight;
    const int lanesHeight = height() - lanesTop;

    if (!source_ || range_.end == range_.start) {
        painter.setPen(colours.color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter,
                         source_ ? "The selected tracks hold no audio"
                                 : "Select a virtual track to see its waveform");
        return;
    }

    // Ruler: ticks far enough apart for their labels.
    const double seconds =
        double(range_.end - range_.start) * kFramesPerBlock / static_cast<double>(sampleRate_);
    const double pixelsPerSecond = seconds > 0 ? width() / seconds : 0;
    int step = 1;
    for (const int candidate : {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1800, 3600}) {
        step = candidate;
        if (candidate * pixelsPerSecond >= 48) {
            break;
        }
    }
    painter.setPen(colours.color(QPalette::Text));
    const QFontMetrics metrics(font());
    for (int s = 0; s <= static_cast<int>(seconds); s += step) {
        const int x = static_cast<int>(s * pixelsPerSecond);
        painter.drawLine(x, lanesTop - 4, x, lanesTop);
        painter.drawText(x + 2, lanesTop - 4, minutesAndSeconds(s));
    }
    painter.drawLine(0, lanesTop, width(), lanesTop);

    // Event boundaries.
    painter.setPen(QPen(colours.color(QPalette::Mid), 1, Qt::DashLine));
    for (const std::uint32_t block : boundaries_) {
        if (block > range_.start && block < range_.end) {
            const int x = columnOf(block);
            painter.drawLine(x, lanesTop, x, height());
        }
    }

    // One lane per channel.
    const int lanes = peaks_.empty() ? 1 : static_cast<int>(peaks_.size());
    const int laneHeight = std::max(1, lanesHeight / lanes);
    if (!peaksReady_) {
        painter.setPen(colours.color(QPalette::PlaceholderText));
        painter.drawText(QRect(0, lanesTop, width(), lanesHeight), Qt::AlignCenter, "Reading…");
    }
    painter.setPen(colours.color(QPalette::Highlight));
    for (int lane = 0; lane < static_cast<int>(peaks_.size()); ++lane) {
        const int middle = lanesTop + lane * laneHeight + laneHeight / 2;
        const double scale = (laneHeight / 2.0 - 1) / 32768.0;
        const auto& columns = peaks_[static_cast<std::size_t>(lane)];
        for (int x = 0; x < static_cast<int>(columns.size()) && x < width(); ++x) {
            const ColumnPeak& peak = columns[static_cast<std::size_t>(x)];
            painter.drawLine(x, middle - static_cast<int>(peak.max * scale), x,
                             middle - static_cast<int>(peak.min * scale));
        }
    }

    // Play head.
    painter.setPen(QPen(QColor(200, 30, 30), 1));
    const int head = columnOf(playHead_);
    painter.drawLine(head, 0, head, height());
}

}  // namespace korvo
