// Checks the window's current page the way a person looks at it: every caption fits its control
// (beside the style's indicator for check boxes and radios, whose indicator lies inside the
// control), every tab of the strip shows whole, every control lies inside the dialog (page
// controls inside the tab strip's frame, radios inside their group), no two controls draw over
// each other, and no control crosses a group box's title or frame lines. The findings are plain
// sentences.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>

#include <string>
#include <utility>
#include <vector>

#include "console/control_table.h"
#include "ui/console_window.h"
#include "ui/group_frame.h"

namespace kalvor::guitest {

// Controls that every page shows: the tab strip, the panes with their labels and "EXIT".
inline bool IsFrameControl(int id) {
    return id == 1005 || id == 1003 || id == 1004 || id == kLabelMessage || id == kLabelStatus || id == 1;
}

// Where the style puts a check box's or radio's indicator, and the room for its caption beside it
// (in the control's own coordinates).
inline std::pair<QRect, QRect> IndicatorAndCaption(QAbstractButton* b) {
    QStyleOptionButton option;
    option.initFrom(b);
    option.text = b->text();
    const bool radio = qobject_cast<QRadioButton*>(b) != nullptr;
    QStyle* style = b->style();
    return {style->subElementRect(radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &option, b),
            style->subElementRect(radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents, &option, b)};
}

// The part of a control's rectangle that it paints. A label paints its glyphs only (a row of
// hyphens is a thin line in the middle of its text line); check boxes and radios paint their
// indicator and their caption's line beside it, centred vertically; buttons and edits fill their
// rectangle.
inline QRect InkRect(QWidget* w) {
    const QRect g = w->geometry();
    if (auto* label = qobject_cast<QLabel*>(w)) {
        const QRect box = label->contentsRect().translated(g.topLeft());
        const QFontMetrics fm = label->fontMetrics();
        const int lineTop = box.top() + (box.height() - fm.height()) / 2;
        if (label->text().isEmpty()) return QRect();
        return fm.tightBoundingRect(label->text()).translated(box.left(), lineTop + fm.ascent());
    }
    if (qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr) {
        auto* b = static_cast<QAbstractButton*>(w);
        const auto [indicator, room] = IndicatorAndCaption(b);
        const QFontMetrics fm = w->fontMetrics();
        const QRect line(room.x(), room.y() + (room.height() - fm.height()) / 2,
                         std::min(fm.horizontalAdvance(b->text()), room.width()), fm.height());
        return indicator.united(line).intersected(w->rect()).translated(g.topLeft());
    }
    return g;
}

// "1020 \"DISPENSE\"", or "1029 (edit)": an edit's text changes, its id says which it is.
inline std::string Name(const Control& c) {
    if (c.kind == ControlKind::Edit) return std::to_string(c.id) + " (edit)";
    return std::to_string(c.id) + " \"" + c.text + "\"";
}

// The room a caption needs inside its control, and what the control offers.
inline std::string CaptionProblem(const Control& c, QWidget* w) {
    const QFontMetrics fm = w->fontMetrics();
    auto tooSmall = [&](int needW, int needH, QRect g = {}) {
        if (g.isNull()) g = w->geometry();
        if (needW <= g.width() && needH <= g.height()) return std::string();
        return Name(c) + " needs " + std::to_string(needW) + "x" + std::to_string(needH) + " px, has " +
               std::to_string(g.width()) + "x" + std::to_string(g.height());
    };
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        const int margin = 2 * w->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
        return tooSmall(fm.horizontalAdvance(b->text()) + margin, fm.height() + 4);
    }
    if (auto* label = qobject_cast<QLabel*>(w)) return tooSmall(fm.horizontalAdvance(label->text()), fm.height(), label->contentsRect());
    if (auto* b = qobject_cast<QAbstractButton*>(w); qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr) {
        // The style's indicator inside the control, the caption whole in the room beside it.
        const auto [indicator, room] = IndicatorAndCaption(b);
        if (!w->rect().contains(indicator))
            return Name(c) + ": its indicator (" + std::to_string(indicator.width()) + "x" + std::to_string(indicator.height()) +
                   " px) reaches outside it (" + std::to_string(w->width()) + "x" + std::to_string(w->height()) + ")";
        return tooSmall(fm.horizontalAdvance(b->text()), fm.height(), QRect(room.x(), 0, room.width(), w->height()));
    }
    if (auto* group = qobject_cast<GroupFrame*>(w))
        return tooSmall(group->TitleRect().right() + 1 + fm.averageCharWidth(), fm.height() + 2);
    if (qobject_cast<QLineEdit*>(w) != nullptr) {
        // The text line and the frame around it.
        const int frame = w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
        return tooSmall(fm.averageCharWidth() * 2 + 2 * frame, fm.height() + 2 * frame);
    }
    return {};
}

inline std::vector<std::string> LayoutProblems(ConsoleWindow& window, const ControlTable& table) {
    std::vector<std::string> problems;
    const QRect client(QPoint(0, 0), window.Canvas()->size());
    const QRect frame = window.TabPanel()->geometry();
    const QRect tabs = window.TabBar()->geometry();
    // Every tab whole inside the bar, its caption within it.
    QTabBar* bar = window.TabBar();
    for (int i = 0; i < bar->count(); ++i) {
        const QRect tab = bar->tabRect(i);
        const int needed = bar->fontMetrics().horizontalAdvance(bar->tabText(i));
        if (!bar->rect().contains(tab) || tab.width() < needed)
            problems.push_back("tab \"" + bar->tabText(i).toStdString() + "\" is cut off: needs " + std::to_string(needed) +
                               " px, has " + std::to_string(bar->rect().intersected(tab).width()));
    }

    std::vector<const Control*> shown;
    for (const Control& c : table.All())
        if (c.visible && window.Widget(c.id) != nullptr && window.Widget(c.id)->isVisible()) shown.push_back(&c);

    for (const Control* c : shown) {
        QWidget* w = window.Widget(c->id);
        const QRect g = c->kind == ControlKind::TabStrip ? tabs.united(frame) : w->geometry();
        if (!client.contains(g)) problems.push_back(Name(*c) + " reaches outside the window");
        if (!IsFrameControl(c->id) && !frame.contains(g)) problems.push_back(Name(*c) + " reaches outside the tab strip");
        if (c->kind != ControlKind::TabStrip && !(c->kind == ControlKind::Edit && (c->style & kStyleMultiLine))) {
            const std::string p = CaptionProblem(*c, w);
            if (!p.empty()) problems.push_back("caption cut off: " + p);
        }
    }
    // Group boxes: nothing crosses the title or one of the four frame lines (each as wide as the
    // style's frame and a pixel of room beside it), and radios lie inside a group's frame.
    for (const Control* g : shown) {
        if (g->kind != ControlKind::GroupBox) continue;
        auto* box = qobject_cast<GroupFrame*>(window.Widget(g->id));
        if (box == nullptr) {
            problems.push_back(Name(*g) + " is not drawn as a group frame");
            continue;
        }
        const QRect frameRect = box->FrameRect().translated(box->pos());
        const QRect title = box->TitleRect().translated(box->pos());
        const int line = 3;
        const QRect lines[4] = {
            QRect(frameRect.left(), frameRect.top() - 1, frameRect.width(), line),
            QRect(frameRect.left(), frameRect.bottom() - 1, frameRect.width(), line),
            QRect(frameRect.left() - 1, frameRect.top(), line, frameRect.height()),
            QRect(frameRect.right() - 1, frameRect.top(), line, frameRect.height())};
        for (const Control* c : shown) {
            if (c == g || c->kind == ControlKind::TabStrip) continue;
            const QRect ink = InkRect(window.Widget(c->id));
            if (ink.isEmpty()) continue;
            if (ink.intersects(title)) problems.push_back(Name(*c) + " crosses the title of " + Name(*g));
            for (const QRect& l : lines)
                if (ink.intersects(l)) {
                    problems.push_back(Name(*c) + " crosses the frame of " + Name(*g));
                    break;
                }
        }
    }
    for (const Control* r : shown) {
        if (r->kind != ControlKind::Radio) continue;
        const QRect ink = InkRect(window.Widget(r->id));
        bool framed = false;
        for (const Control* g : shown) {
            auto* box = qobject_cast<GroupFrame*>(window.Widget(g->id));
            if (box != nullptr) framed = framed || box->FrameRect().translated(box->pos()).contains(ink);
        }
        if (!framed) problems.push_back(Name(*r) + " is not inside its group box");
    }
    // Nothing else draws over anything else; the tab strip is a backdrop that holds the pages.
    for (size_t i = 0; i < shown.size(); ++i) {
        const Control* a = shown[i];
        if (a->kind == ControlKind::TabStrip || a->kind == ControlKind::GroupBox) continue;
        const QRect inkA = InkRect(window.Widget(a->id));
        for (size_t j = i + 1; j < shown.size(); ++j) {
            const Control* b = shown[j];
            if (b->kind == ControlKind::TabStrip || b->kind == ControlKind::GroupBox) continue;
            if (inkA.intersects(InkRect(window.Widget(b->id)))) problems.push_back(Name(*a) + " overlaps " + Name(*b));
        }
    }
    return problems;
}

// The findings as one text, a line each ("" when the page is fine).
inline std::string LayoutReport(ConsoleWindow& window, const ControlTable& table) {
    std::string all;
    for (const std::string& p : LayoutProblems(window, table)) all += "  " + p + "\n";
    return all;
}

}  // namespace kalvor::guitest
