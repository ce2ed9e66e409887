#include "controls/TrackButton.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "controls/Artwork.h"

namespace korvo {

CTrackButton::CTrackButton(int x, int y, QWidget* parent) : QAbstractButton(parent), x_(x), y_(y) {
    setFocusPolicy(Qt::StrongFocus);
    // The right button renames; the context menu its press brings must not reach the window.
    setContextMenuPolicy(Qt::PreventContextMenu);
    setFixedSize(trackButtonFaceSize());
}

void CTrackButton::setHasData(bool hasData) {
    hasData_ = hasData;
    update();
}

void CTrackButton::setSelected(bool selected) {
    selected_ = selected;
    update();
}

void CTrackButton::setPlaying(bool playing) {
    playing_ = playing;
    update();
}

QSize CTrackButton::sizeHint() const {
    return trackButtonFaceSize();
}

bool CTrackButton::event(QEvent* event) {
    // Enter and the arrows belong to the button: the dialog must not take them as a press of its
    // default button, and no shortcut may steal them.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Left:
            case Qt::Key_Right:
            case Qt::Key_Up:
            case Qt::Key_Down:
                event->accept();
                return true;
            default:
                break;
        }
    }
    return QAbstractButton::event(event);
}

void CTrackButton::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            if (titleModifier_ != nullptr) {
                titleModifier_->modify(*this);
            }
            return;
        case Qt::Key_Space:
            event->accept();
            if (!event->isAutoRepeat()) {
                toggleAndNotify();
            }
            return;
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down: {
            event->accept();
            if (caretModifier_ == nullptr) {
                return;
            }
            const auto direction = event->key() == Qt::Key_Left    ? ICaretModifier::kPreviousRow
                                   : event->key() == Qt::Key_Right ? ICaretModifier::kNextRow
                                   : event->key() == Qt::Key_Up    ? ICaretModifier::kPreviousColumn
                                                                   : ICaretModifier::kNextColumn;
            caretModifier_->move(*this, direction);
            return;
        }
        default:
            QAbstractButton::keyPressEvent(event);
    }
}

void CTrackButton::keyReleaseEvent(QKeyEvent* event) {
    // Space was handled on the press; the base class would click the button on the release.
    if (event->key() == Qt::Key_Space) {
        event->accept();
        return;
    }
    QAbstractButton::keyReleaseEvent(event);
}

void CTrackButton::toggleAndNotify() {
    selected_ = !selected_;
    update();
    if (commander_ != nullptr) {
        commander_->notify(*this);
    }
}

void CTrackButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        selected_ = !selected_;
        QAbstractButton::mousePressEvent(event);  // pressed look and focus
        if (commander_ != nullptr) {
            commander_->notify(*this);
        }
        return;
    }
    if (event->button() == Qt::RightButton) {
        event->accept();
        setFocus(Qt::MouseFocusReason);
        if (titleModifier_ != nullptr) {
            titleModifier_->modify(*this);
        }
        return;
    }
    QAbstractButton::mousePressEvent(event);
}

void CTrackButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click toggles again, as a single click does.
    if (event->button() == Qt::LeftButton) {
        selected_ = !selected_;
        QAbstractButton::mousePressEvent(event);
        update();
        if (commander_ != nullptr) {
            commander_->notify(*this);
        }
        return;
    }
    if (event->button() == Qt::RightButton) {
        mousePressEvent(event);
        return;
    }
    QAbstractButton::mouseDoubleClickEvent(event);
}

void CTrackButton::paintEvent(QPaintEvent* /*event*/) {
    TrackFace face = TrackFace::empty;
    if (isDown()) {
        face = hasData_ ? TrackFace::dataSelected : TrackFace::emptySelected;
    } else if (hasData_) {
        face = selected_ ? TrackFace::dataSelected : TrackFace::data;
    } else if (selected_) {
        face = TrackFace::emptySelected;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, trackButtonFace(face));

    const QRect area = rect();
    if (!text().isEmpty()) {
        painter.setFont(font());
        painter.setPen(QColor(8, 0, 0));
        const int characterHeight = painter.fontMetrics().height();
        const int top = (area.height() - characterHeight) / 2;
        painter.drawText(QRect(area.left(), top, area.width(), characterHeight),
                         Qt::AlignHCenter | Qt::AlignTop, text());
    }
    if (playing_) {
        const int size = std::max(4, area.height() / 3);
        const QPointF mark[] = {{3.0, 3.0}, {3.0, 3.0 + size}, {3.0 + size * 0.8, 3.0 + size / 2.0}};
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(200, 30, 30));
        painter.drawPolygon(mark, 3);
    }
    if (hasFocus()) {
        painter.setPen(QPen(QColor(8, 0, 0), 1.0, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(area.adjusted(2, 2, -3, -3));
    }
}

}  // namespace korvo
