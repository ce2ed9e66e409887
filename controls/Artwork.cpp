#include "controls/Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <array>
#include <cmath>

namespace korvo {

namespace {

constexpr int kTrackFaceWidth = 54;
constexpr int kTrackFaceHeight = 18;
constexpr int kConvertFaceWidth = 168;
constexpr int kConvertFaceHeight = 44;

// A raised tile with a light top-left and a dark bottom-right edge.
void paintBevel(QPainter& painter, const QRect& rect, const QColor& fill, bool sunken) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0.0, fill.lighter(sunken ? 95 : 118));
    gradient.setColorAt(1.0, fill.darker(sunken ? 100 : 112));
    painter.fillRect(rect, gradient);
    const QColor light = sunken ? fill.darker(160) : fill.lighter(150);
    const QColor dark = sunken ? fill.lighter(150) : fill.darker(170);
    painter.setPen(light);
    painter.drawLine(rect.topLeft(), rect.topRight());
    painter.drawLine(rect.topLeft(), rect.bottomLeft());
    painter.setPen(dark);
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    painter.drawLine(rect.topRight(), rect.bottomRight());
}

// A few periods of a decaying wave along the bottom of a track face: "this track holds audio".
void paintWaveStripe(QPainter& painter, const QRect& rect, const QColor& colour) {
    QPainterPath path;
    const double base = rect.bottom() - 3.0;
    path.moveTo(rect.left() + 3, base);
    for (int x = rect.left() + 3; x <= rect.right() - 3; ++x) {
        const double t = (x - rect.left()) / static_cast<double>(rect.width());
        path.lineTo(x, base - 2.0 * std::sin(t * 6.2831853 * 4.0) * (1.0 - 0.5 * t));
    }
    painter.setPen(QPen(colour, 1.0));
    painter.drawPath(path);
}

QPixmap paintTrackFace(TrackFace face) {
    QPixmap pixmap(kTrackFaceWidth, kTrackFaceHeight);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const QRect rect(0, 0, kTrackFaceWidth, kTrackFaceHeight);
    const bool selected = face == TrackFace::emptySelected || face == TrackFace::dataSelected;
    const bool data = face == TrackFace::data || face == TrackFace::dataSelected;
    QColor fill = data ? QColor(150, 212, 190) : QColor(214, 214, 206);
    if (selected) {
        fill = data ? QColor(246, 166, 72) : QColor(246, 214, 140);
    }
    paintBevel(painter, rect, fill, selected);
    if (data) {
        paintWaveStripe(painter, rect, fill.darker(150));
    }
    // A small lamp at the left edge: lit when selected.
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(selected ? QColor(210, 40, 20) : fill.darker(125));
    painter.drawEllipse(QRectF(3.0, kTrackFaceHeight / 2.0 - 2.0, 4.0, 4.0));
    return pixmap;
}

bool importCaption(const QString& caption) {
    return caption == "CONVERT_WAVE_TO_Korvo";
}
bool exportCaption(const QString& caption) {
    return caption == "CONVERT_Korvo_TO_WAVE";
}

void paintArrow(QPainter& painter, const QPointF& from, const QPointF& to, const QColor& colour) {
    painter.setPen(QPen(colour, 3.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(from, QPointF(to.x() - 6.0, to.y()));
    QPolygonF head;
    head << QPointF(to.x(), to.y()) << QPointF(to.x() - 9.0, to.y() - 6.0)
         << QPointF(to.x() - 9.0, to.y() + 6.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPolygon(head);
}

}  // namespace

QSize trackButtonFaceSize() {
    return {kTrackFaceWidth, kTrackFaceHeight};
}

const QPixmap& trackButtonFace(TrackFace face) {
    static const std::array<QPixmap, 4> faces = {
        paintTrackFace(TrackFace::empty), paintTrackFace(TrackFace::emptySelected),
        paintTrackFace(TrackFace::data), paintTrackFace(TrackFace::dataSelected)};
    return faces[static_cast<std::size_t>(face)];
}

QSize convertButtonFaceSize() {
    return {kConvertFaceWidth, kConvertFaceHeight};
}

QPixmap convertButtonFace(const QString& caption, char face) {
    const bool import = importCaption(caption);
    if ((!import && !exportCaption(caption)) ||
        (face != 'U' && face != 'D' && face != 'F' && face != 'X')) {
        return {};
    }
    QPixmap pixmap(kConvertFaceWidth, kConvertFaceHeight);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const bool down = face == 'D';
    const bool disabled = face == 'X';
    const QRect rect(0, 0, kConvertFaceWidth, kConvertFaceHeight);
    const QColor fill = disabled ? QColor(200, 200, 196) : QColor(228, 226, 214);
    paintBevel(painter, rect, fill, down);

    const int shift = down ? 1 : 0;
    const QColor ink = disabled ? QColor(150, 150, 146) : QColor(24, 24, 32);
    const QColor accent =
        disabled ? QColor(165, 165, 160) : (import ? QColor(24, 120, 96) : QColor(200, 96, 24));
    QFont font;
    font.setPixelSize(13);
    font.setBold(true);
    painter.setFont(font);
    painter.setRenderHint(QPainter::Antialiasing);
    const QString left = import ? "WAVE" : "Korvo";
    const QString right = import ? "Korvo" : "WAVE";
    const QRect leftBox(8 + shift, shift, 58, kConvertFaceHeight);
    const QRect rightBox(kConvertFaceWidth - 66 + shift, shift, 58, kConvertFaceHeight);
    painter.setPen(ink);
    painter.drawText(leftBox, Qt::AlignCenter, left);
    painter.drawText(rightBox, Qt::AlignCenter, right);
    const double middle = kConvertFaceHeight / 2.0 + shift;
    paintArrow(painter, QPointF(70 + shift, middle),
               QPointF(kConvertFaceWidth - 70 + shift, middle), accent);
    if (face == 'F') {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(24, 24, 32), 1.0, Qt::DotLine));
        painter.drawRect(rect.adjusted(3, 3, -3, -3));
    }
    return pixmap;
}

QIcon programIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 64.0, size / 64.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(32, 40, 52));
        painter.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
        // Eight track lamps across the top, two of them lit.
        for (int track = 0; track < 8; ++track) {
            painter.setBrush(track == 2 || track == 5 ? QColor(246, 166, 72)
                                                      : QColor(150, 212, 190));
            painter.drawRect(QRectF(8 + track * 6.2, 9, 4.2, 12));
        }
        QPainterPath wave;
        wave.moveTo(8, 42);
        for (int x = 8; x <= 56; ++x) {
            const double t = (x - 8) / 48.0;
            wave.lineTo(x, 42 - 11.0 * std::sin(t * 6.2831853 * 2.0) * (1.0 - 0.6 * t));
        }
        painter.setPen(QPen(QColor(240, 240, 232), 3.0, Qt::SolidLine, Qt::RoundCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(wave);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

const QPixmap& logoPicture() {
    static const QPixmap logo = [] {
        QPixmap pixmap(112, 24);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.drawPixmap(0, 0, programIcon().pixmap(24, 24));
        QFont font;
        font.setPixelSize(14);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(QColor(32, 40, 52));
        painter.drawText(QRect(28, 0, 84, 24), Qt::AlignVCenter | Qt::AlignLeft, "korvowav");
        return pixmap;
    }();
    return logo;
}

}  // namespace korvo
