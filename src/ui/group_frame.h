// A group box drawn as the dialog's template expects it: the title on the top edge of the
// rectangle, one text line high, and the frame's top line through the middle of that line, so
// that controls placed a row below the top edge stay clear of both. (Qt's own group box puts a
// taller title band above its frame and crosses the controls of the template.)
#pragma once

#include <QString>
#include <QWidget>

namespace kalvor {

class GroupFrame final : public QWidget {
    Q_OBJECT

public:
    explicit GroupFrame(const QString& title, QWidget* parent = nullptr);

    QString Title() const { return m_title; }
    void SetTitle(const QString& title);

    // In the widget's own coordinates: where the title is drawn (its text and a little room each
    // side, over the frame's top line), and the frame's rectangle.
    QRect TitleRect() const;
    QRect FrameRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
};

}  // namespace kalvor
