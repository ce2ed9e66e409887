#pragma once
// Wave files dropped on the track buttons: a single local WAV or AIFF file dropped on an enabled
// button is handed to the window, which imports it into that virtual track as the Import
// button would. Anything else, and a track dragged out of this very window, is refused while it
// is dragged, so the pointer shows it.
//
//   CTrackDropTarget drops(matrix, [this](int v, const QString& path) { importDropped(v, path); });

#include <QObject>
#include <QString>

#include <functional>

class QMimeData;

namespace korvo {

class CTrackButtonMatrix;

class CTrackDropTarget : public QObject {
    Q_OBJECT

public:
    using DropAction = std::function<void(int virtualTrack, const QString& path)>;

    CTrackDropTarget(CTrackButtonMatrix& matrix, DropAction action, QObject* parent = nullptr);

    // The local path of the one wave file the data carries; empty for anything else.
    static QString droppedWave(const QMimeData* data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CTrackButtonMatrix& matrix_;
    DropAction action_;
};

}  // namespace korvo
