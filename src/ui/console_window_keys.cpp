// The keyboard of the console's window, as a dialog has it: Tab through the controls in the
// template's order, Enter for the focused or the default push button, Escape for nothing, and
// Ctrl+T for the trace with its footnote.
#include <QAbstractButton>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "console/console_dlg.h"
#include "ui/console_window.h"

namespace kalvor {

void ConsoleWindow::SetTraceToggle(std::function<std::string()> toggle) { m_traceToggle = std::move(toggle); }

void ConsoleWindow::ShowFootnote(const std::string& text) {
    m_footnote->setText(QString::fromStdString(text));
    m_footnote->setToolTip(QString::fromStdString(text));
    m_footnote->setVisible(!text.empty());
}

void ConsoleWindow::ChainFocus() {
    // Tab and Shift+Tab go through the controls in the template's order; Qt passes over the
    // hidden and disabled ones. The panes hand Tab on instead of typing it.
    QWidget* previous = nullptr;
    for (const Control& c : m_table.All()) {
        QWidget* w = Widget(c.id);
        if (w == nullptr || w->focusPolicy() == Qt::NoFocus) continue;  // statics and group boxes
        if (auto* pane = qobject_cast<QPlainTextEdit*>(w)) pane->setTabChangesFocus(true);
        if (previous != nullptr) QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

QAbstractButton* ConsoleWindow::DefaultButton() const {
    for (const Control& c : m_table.All())
        if (c.kind == ControlKind::Button && (c.style & kStyleDefaultButton) != 0 && c.visible && c.enabled)
            return qobject_cast<QAbstractButton*>(Widget(c.id));
    return nullptr;
}

void ConsoleWindow::keyPressEvent(QKeyEvent* event) {
    // Keys that no control took, as a dialog handles them.
    const int key = event->key();
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && plain) {
        // Enter presses the push button that has the focus, otherwise the page's default button.
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QAbstractButton* button = focused != nullptr ? focused : DefaultButton();
        if (button != nullptr && button->isVisible() && button->isEnabled()) button->click();
        event->accept();
        return;
    }
    if (key == Qt::Key_Escape) {
        // A dialog's Escape presses "Cancel" (2), which this one never shows: nothing happens,
        // and nothing ends without the operator seeing why.
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
}  // namespace kalvor
