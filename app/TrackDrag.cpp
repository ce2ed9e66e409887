#include "app/TrackDrag.h"

#include <QApplication>
#include <QDrag>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

#include "controls/TrackButtonMatrix.h"
#include "disk/DiskTypes.h"

namespace korvo {

CTrackDragSource::CTrackDragSource(CTrackButtonMatrix& matrix, PressAction pressed,
                                   ExportAction exporter, QObject* parent)
    : QObject(parent),
      matrix_(matrix),
      pressed_(std::move(pressed)),
      exporter_(std::move(exporter)),
      runner_([](QDrag& drag) { return drag.exec(Qt::CopyAction, Qt::CopyAction); }) {
    for (int v = 0; v < kVirtualTracks; ++v) {
        if (CTrackButton* button = matrix_.button(v); button != nullptr) {
            button->installEventFilter(this);
        }
    }
}

QMimeData* CTrackDragSource::fileData(const QString& path) {
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(path)});
    return data;
}

bool CTrackDragSource::eventFilter(QObject* watched, QEvent* event) {
    auto* button = qobject_cast<CTrackButton*>(watched);
    if (button == nullptr || dragging_) {
        return false;
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && button->isEnabled()) {
                pressedButton_ = button;
                pressedAt_ = mouse->position().toPoint();
                if (pressed_) {
                    pressed_(button->columnIndex() + kVTracksPerTrack * button->rowIndex());
                }
            }
            return false;  // the button toggles its selection as for any click
        }
        case QEvent::MouseButtonRelease:
            pressedButton_ = nullptr;
            return false;
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (pressedButton_ != button || !(mouse->buttons() & Qt::LeftButton) ||
                (mouse->position().toPoint() - pressedAt_).manhattanLength() <
                    QApplication::startDragDistance()) {
                return false;
            }
            pressedButton_ = nullptr;
            if (!button->hasData()) {
                return false;  // nothing to drag: the press stays a click
            }
            dragOut(*button);
            return true;
        }
        default:
            return false;
    }
}

void CTrackDragSource::dragOut(CTrackButton& button) {
    const int v = button.columnIndex() + kVTracksPerTrack * button.rowIndex();
    dragging_ = true;
    button.setDown(false);  // the drag takes the release the button waits for
    const QString path = exporter_ ? exporter_(v) : QString();
    if (path.isEmpty()) {
        dragging_ = false;
        return;
    }
    Qt::DropAction action = Qt::IgnoreAction;
    // Let go while the file was written: a drag now would drop it wherever the next click is.
    if (QGuiApplication::mouseButtons() & Qt::LeftButton) {
        auto* drag = new QDrag(&button);  // Qt deletes it once the drag has ended
        drag->setMimeData(fileData(path));
        drag->setPixmap(button.grab());
        drag->setHotSpot(QPoint(button.width() / 2, button.height() / 2));
        action = runner_(*drag);
        button.setDown(false);
    }
    dragging_ = false;
    emit dragged(v, path, action);
}

}  // namespace korvo
