#pragma once
// One of the main window's two convert buttons, drawn with the four faces named after its
// caption: up, down, focused and disabled.

#include <QAbstractButton>
#include <QString>

namespace korvo {

inline constexpr const char* kImportCaption = "CONVERT_WAVE_TO_Korvo";
inline constexpr const char* kExportCaption = "CONVERT_Korvo_TO_WAVE";

class CConvertButton : public QAbstractButton {
    Q_OBJECT

public:
    CConvertButton(const QString& caption, const QString& toolTip, QWidget* parent = nullptr);

    const QString& caption() const { return caption_; }
    // The face letter drawn now: 'U', 'D', 'F' or 'X'.
    char currentFace() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
};

}  // namespace korvo
