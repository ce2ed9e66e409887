#pragma once
// Track buttons dragged out of the window: a left-button drag that starts on an enabled button
// holding data (once the pointer has moved the start drag distance) asks the window for a wave
// file of that virtual track, then drags the file's URL (text/uri-list) so that a file manager
// copies it. A press and release without that movement stays a click, and the right button
// stays the button's own, so the selection rules and rename are untouched. No file (the
// export failed or was cancelled, or the button was let go meanwhile) starts no drag.
//
//   CTrackDragSource drags(matrix, [this](int v) { noteSelection(); },
//                          [this](int v) { return exportForDrag(v); });
//   connect(&drags, &CTrackDragSource::dragged, ...);   // after the drag ended

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>

class QDrag;
class QMimeData;

namespace korvo {

class CTrackButton;
class CTrackButtonMatrix;

class CTrackDragSource : public QObject {
    Q_OBJECT

public:
    // Told on a left-button press on a track button, before the button handles it.
    using PressAction = std::function<void(int virtualTrack)>;
    // Writes the file to drag for the virtual track and returns its path; empty: no drag.
    using ExportAction = std::function<QString(int virtualTrack)>;
    // Runs the drag and returns what the drop target did (QDrag::exec unless replaced).
    using DragRunner = std::function<Qt::DropAction(QDrag& drag)>;

    CTrackDragSource(CTrackButtonMatrix& matrix, PressAction pressed, ExportAction exporter,
                     QObject* parent = nullptr);

    void setDragRunner(DragRunner runner) { runner_ = std::move(runner); }

    // The data a drag of the file carries: its URL, as file managers expect.
    static QMimeData* fileData(const QString& path);

signals:
    // After the file was written for a drag: what the drop target did with it (IgnoreAction
    // also when the button was let go before the file was ready and no drag started).
    void dragged(int virtualTrack, const QString& path, Qt::DropAction action);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void dragOut(CTrackButton& button);

    CTrackButtonMatrix& matrix_;
    PressAction pressed_;
    ExportAction exporter_;
    DragRunner runner_;
    CTrackButton* pressedButton_ = nullptr;  // a left press that may still become a drag
    QPoint pressedAt_;
    bool dragging_ = false;
};

}  // namespace korvo
