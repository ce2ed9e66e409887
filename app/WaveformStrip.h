#pragma once
// A strip above the track matrix that shows what the selected virtual tracks hold: for every
// pixel column the smallest and largest sample of the export's audio that falls in it (one lane
// per virtual track), a time ruler in m:ss, the boundaries of the tracks' events and the play
// head. The peaks are computed on a worker thread and kept per song, selection and width, so a
// selection seen before shows at once. A click sets the play position; Space asks to play.
//
//   strip->showTracks(key, [&] { return CTrackSamples::fromConverter(converter); });
//   connect(strip, &CWaveformStrip::positionChosen, ...);

#include <QHash>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "app/TrackSamples.h"

namespace korvo {

struct ColumnPeak {
    std::int16_t min = 0;
    std::int16_t max = 0;
};
// Per channel, per column.
using WavePeaks = std::vector<std::vector<ColumnPeak>>;

// Reads the whole export range and gives each of `columns` columns the extremes of the frames
// that fall in it: frame f of F goes to column f · columns / F. A column that gets no frame (more
// columns than frames) holds 0 and 0. Empty when reading failed or was cancelled.
WavePeaks computePeaks(CTrackSamples& samples, int columns,
                       const std::atomic<bool>* cancelled = nullptr);

class CWaveformStrip : public QWidget {
    Q_OBJECT

public:
    using SampleSource = std::function<std::unique_ptr<CTrackSamples>()>;

    explicit CWaveformStrip(QWidget* parent = nullptr);
    ~CWaveformStrip() override;

    // Shows the tracks that `source` reads; key names the song and selection for the cache.
    // An empty key (or a source that gives nothing) clears the strip; the key shown already
    // changes nothing.
    void showTracks(const QString& key, SampleSource source);
    // Forgets every cached picture (after an import changed the song); the next showTracks
    // reads again even for the same key.
    void forgetCache() {
        cancelJob();
        cache_.clear();
        key_.clear();
    }

    void setPlayHead(std::uint32_t block);
    std::uint32_t playHead() const { return playHead_; }
    BlockRange range() const { return range_; }
    // The peaks shown (empty while they are computed).
    const WavePeaks& peaks() const { return peaks_; }
    bool peaksReady() const { return peaksReady_; }

    QSize sizeHint() const override { return {480, 120}; }
    QSize minimumSizeHint() const override { return {120, 60}; }

signals:
    void positionChosen(std::uint32_t block);
    void playRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void recompute();
    void cancelJob();
    QString cacheKey() const;
    int columnOf(std::uint32_t block) const;

    QString key_;
    SampleSource source_;
    BlockRange range_;
    std::uint32_t sampleRate_ = 44100;
    std::vector<std::uint32_t> boundaries_;
    std::uint32_t playHead_ = 0;
    WavePeaks peaks_;
    bool peaksReady_ = false;
    QHash<QString, WavePeaks> cache_;
    QTimer resizeSettle_;
    std::thread job_;
    std::shared_ptr<std::atomic<bool>> jobCancelled_;
    int generation_ = 0;
};

}  // namespace korvo
