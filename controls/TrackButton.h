#pragma once
// One button of the track matrix: a virtual track of the loaded song. Its face tells whether the
// virtual track holds audio and whether it is selected; its title is the virtual track's name.
// The button knows nothing of songs: it toggles its selected flag on a click or Space and tells
// its commander, asks its title modifier for a rename on Enter or a right click, and asks its
// caret modifier to move the keyboard focus on the arrow keys. The owner sets the flags and the
// title whenever it loads or clears a song.

#include <QAbstractButton>

namespace korvo {

class CTrackButton : public QAbstractButton {
    Q_OBJECT

public:
    // Told after the selected flag was toggled by the mouse or the space bar.
    class ICommander {
    public:
        virtual ~ICommander() = default;
        virtual void notify(CTrackButton& button) = 0;
    };
    // Told when the user asks to change the button's title.
    class ITitleModifier {
    public:
        virtual ~ITitleModifier() = default;
        virtual void modify(CTrackButton& button) = 0;
    };
    // Told on the arrow keys.
    class ICaretModifier {
    public:
        enum Direction : int {
            kPreviousRow = 0,     // Left arrow
            kNextRow = 1,         // Right arrow
            kPreviousColumn = 2,  // Up arrow
            kNextColumn = 3,      // Down arrow
        };
        virtual ~ICaretModifier() = default;
        virtual void move(CTrackButton& button, Direction direction) = 0;
    };

    CTrackButton(int x, int y, QWidget* parent = nullptr);

    int columnIndex() const { return x_; }
    int rowIndex() const { return y_; }

    bool hasData() const { return hasData_; }
    void setHasData(bool hasData);
    bool isSelected() const { return selected_; }
    void setSelected(bool selected);

    QString title() const { return text(); }
    void setTitle(const QString& title) { setText(title); }

    void setCommander(ICommander* commander) { commander_ = commander; }
    void setTitleModifier(ITitleModifier* modifier) { titleModifier_ = modifier; }
    void setCaretModifier(ICaretModifier* modifier) { caretModifier_ = modifier; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // While the virtual track is heard, a small play mark sits in the button's corner.
    void setPlaying(bool playing);
    bool isPlaying() const { return playing_; }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void toggleAndNotify();

    int x_;
    int y_;
    bool hasData_ = false;
    bool selected_ = false;
    bool playing_ = false;
    ICommander* commander_ = nullptr;
    ITitleModifier* titleModifier_ = nullptr;
    ICaretModifier* caretModifier_ = nullptr;
};

}  // namespace korvo
