#pragma once
// The program's own pictures, painted in code once and kept for the program's lifetime: the four
// faces of a track button (one common size), the four faces of each convert button (one common
// size), the window icon and the logo beside the notice line.
//
//   QPixmap face = trackButtonFace(TrackFace::dataSelected);
//   QPixmap up = convertButtonFace("CONVERT_WAVE_TO_Korvo", 'U');

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace korvo {

enum class TrackFace {
    empty,          // no data, not selected
    emptySelected,  // no data, selected (also: no data, pressed)
    data,           // data, not selected
    dataSelected,   // data, selected (also: data, pressed)
};

// Every track button takes this size.
QSize trackButtonFaceSize();
const QPixmap& trackButtonFace(TrackFace face);

// Faces of the two convert buttons by the button's caption ("CONVERT_WAVE_TO_Korvo" or
// "CONVERT_Korvo_TO_WAVE") and a face letter: 'U' up, 'D' down, 'F' focused, 'X' disabled.
// An unknown caption or letter gives a null pixmap.
QSize convertButtonFaceSize();
QPixmap convertButtonFace(const QString& caption, char face);

// The window icon (big and small sizes) and the logo.
QIcon programIcon();
const QPixmap& logoPicture();

}  // namespace korvo
