#include "app/ConvertButton.h"

#include <QPainter>

#include "controls/Artwork.h"

namespace korvo {

CConvertButton::CConvertButton(const QString& caption, const QString& toolTip, QWidget* parent)
    : QAbstractButton(parent), caption_(caption) {
    setObjectName(caption);
    setAccessibleName(caption);
    setToolTip(toolTip);
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(convertButtonFaceSize());
}

char CConvertButton::currentFace() const {
    if (!isEnabled()) {
        return 'X';
    }
    if (isDown()) {
        return 'D';
    }
    return hasFocus() ? 'F' : 'U';
}

QSize CConvertButton::sizeHint() const {
    return convertButtonFaceSize();
}

void CConvertButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, convertButtonFace(caption_, currentFace()));
}

}  // namespace korvo
