#include "app/TrackDrop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "controls/TrackButtonMatrix.h"
#include "disk/DiskTypes.h"

namespace korvo {

CTrackDropTarget::CTrackDropTarget(CTrackButtonMatrix& matrix, DropAction action, QObject* parent)
    : QObject(parent), matrix_(matrix), action_(std::move(action)) {
    for (int v = 0; v < kVirtualTracks; ++v) {
        if (CTrackButton* button = matrix_.button(v); button != nullptr) {
            button->setAcceptDrops(true);
            button->installEventFilter(this);
        }
    }
}

QString CTrackDropTarget::droppedWave(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) {
        return {};
    }
    const QUrl url = data->urls().first();
    if (!url.isLocalFile()) {
        return {};
    }
    const QFileInfo file(url.toLocalFile());
    const QString suffix = file.suffix().toLower();
    if (!file.isFile() || (suffix != "wav" && suffix != "aif" && suffix != "aiff")) {
        return {};
    }
    return file.absoluteFilePath();
}

bool CTrackDropTarget::eventFilter(QObject* watched, QEvent* event) {
    auto* button = qobject_cast<CTrackButton*>(watched);
    if (button == nullptr) {
        return false;
    }
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            // A track dragged out of this window is not imported back into it by a slip.
            if (button->isEnabled() && drag->source() == nullptr &&
                !droppedWave(drag->mimeData()).isEmpty()) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QString path = droppedWave(drop->mimeData());
            if (!button->isEnabled() || drop->source() != nullptr || path.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            // The import runs its own dialogs and progress: not inside the drag's handling.
            const int v = button->columnIndex() + kVTracksPerTrack * button->rowIndex();
            QTimer::singleShot(0, this, [this, v, path] { action_(v, path); });
            return true;
        }
        default:
            return false;
    }
}

}  // namespace korvo
