#pragma once
// The columns x rows track buttons of the main window, with one shared font and the caret
// modifier that moves the keyboard focus between neighbouring buttons without wrap-around.
// Entry i is the button with column index i mod columns and row index i div columns; on the
// main window entry i is virtual track i, so the column index is the V.Track and the row index
// the track.
//
//   CTrackButtonMatrix matrix(8, 8);
//   matrix.attach(dialog, &commander, &titleModifier);   // creates the buttons
//   layout->addWidget(matrix.button(v), ...);

#include <QFont>
#include <QPointer>

#include <memory>
#include <vector>

#include "controls/TrackButton.h"

namespace korvo {

class CTrackButtonMatrix {
public:
    class CCaretModifier : public CTrackButton::ICaretModifier {
    public:
        explicit CCaretModifier(CTrackButtonMatrix& matrix) : matrix_(matrix) {}
        void move(CTrackButton& button, Direction direction) override;

    private:
        CTrackButtonMatrix& matrix_;
    };

    CTrackButtonMatrix(int columns, int rows);
    ~CTrackButtonMatrix();
    CTrackButtonMatrix(const CTrackButtonMatrix&) = delete;
    CTrackButtonMatrix& operator=(const CTrackButtonMatrix&) = delete;

    int columns() const { return columns_; }
    int rows() const { return rows_; }
    int count() const { return columns_ * rows_; }

    // Creates every button as a child of parent, with the interfaces and the shared font.
    void attach(QWidget* parent, CTrackButton::ICommander* commander,
                CTrackButton::ITitleModifier* titleModifier);
    // Null for an index outside the matrix or before attach().
    CTrackButton* button(int index) const;
    // Keyboard focus to the button at column x, row y.
    void focus(int x, int y);
    const QFont& font() const { return font_; }

private:
    struct Entry {
        bool owned = false;
        QPointer<CTrackButton> button;
    };

    void clear();

    int columns_;
    int rows_;
    std::unique_ptr<CCaretModifier> caretModifier_;
    std::vector<Entry> entries_;
    QFont font_;
};

}  // namespace korvo
