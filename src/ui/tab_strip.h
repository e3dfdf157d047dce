// The widgets of the dialog's tab strip (control 1005): the tabs, no taller than the strip's top
// margin in the template, and the frame a tab widget draws around its pages.
#pragma once

#include <QTabBar>
#include <QWidget>

namespace kalvor {

// The tabs of the strip: no taller than `maxHeight`, so that the first row of a page (the
// "Select" group of "MENU" starts 10 dialog units below the strip's top) stays clear of them.
class StripTabs final : public QTabBar {
    Q_OBJECT

public:
    explicit StripTabs(QWidget* parent);
    void SetMaxHeight(int pixels);

protected:
    QSize tabSizeHint(int index) const override;

private:
    int m_maxHeight;
};

// The body of the tab strip: the frame a tab widget draws around its pages.
class PageFrame final : public QWidget {
    Q_OBJECT

public:
    explicit PageFrame(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kalvor
