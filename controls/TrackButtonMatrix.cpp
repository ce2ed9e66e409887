#include "controls/TrackButtonMatrix.h"

#include <algorithm>

namespace korvo {

void CTrackButtonMatrix::CCaretModifier::move(CTrackButton& button, Direction direction) {
    const int x = button.columnIndex();
    const int y = button.rowIndex();
    switch (direction) {
        case kPreviousRow:
            matrix_.focus(x, std::max(y - 1, 0));
            break;
        case kNextRow:
            matrix_.focus(x, std::min(y + 1, matrix_.rows() - 1));
            break;
        case kPreviousColumn:
            matrix_.focus(std::max(x - 1, 0), y);
            break;
        case kNextColumn:
            matrix_.focus(std::min(x + 1, matrix_.columns() - 1), y);
            break;
    }
}

CTrackButtonMatrix::CTrackButtonMatrix(int columns, int rows)
    : columns_(std::max(columns, 0)),
      rows_(std::max(rows, 0)),
      caretModifier_(std::make_unique<CCaretModifier>(*this)) {
    // A small face shared by all buttons, so that an eight-character name fits on the face.
    font_.setPixelSize(9);
}

CTrackButtonMatrix::~CTrackButtonMatrix() {
    clear();
}

void CTrackButtonMatrix::clear() {
    for (Entry& entry : entries_) {
        if (entry.owned && entry.button) {
            delete entry.button.data();
        }
    }
    entries_.clear();
}

void CTrackButtonMatrix::attach(QWidget* parent, CTrackButton::ICommander* commander,
                                CTrackButton::ITitleModifier* titleModifier) {
    clear();
    entries_.resize(static_cast<std::size_t>(count()));
    for (int i = 0; i < count(); ++i) {
        auto* button = new CTrackButton(i % columns_, i / columns_, parent);
        button->setCommander(commander);
        button->setCaretModifier(caretModifier_.get());
        button->setTitleModifier(titleModifier);
        button->setFont(font_);
        entries_[static_cast<std::size_t>(i)] = Entry{true, button};
    }
}

CTrackButton* CTrackButtonMatrix::button(int index) const {
    if (index < 0 || index >= static_cast<int>(entries_.size())) {
        return nullptr;
    }
    return entries_[static_cast<std::size_t>(index)].button.data();
}

void CTrackButtonMatrix::focus(int x, int y) {
    if (x < 0 || x >= columns_ || y < 0 || y >= rows_) {
        return;
    }
    if (CTrackButton* target = button(x + y * columns_); target != nullptr) {
        target->setFocus(Qt::TabFocusReason);
    }
}

}  // namespace korvo
