#include "console/control_table.h"

#include <algorithm>

namespace kalvor {

std::vector<Control> MakeTemplateControls();

namespace {
const std::string kEmpty;
}

ControlTable::ControlTable() : m_controls(MakeTemplateControls()) {}

Control* ControlTable::Find(int id) {
    for (Control& c : m_controls)
        if (c.id == id) return &c;
    return nullptr;
}

const Control* ControlTable::Find(int id) const {
    for (const Control& c : m_controls)
        if (c.id == id) return &c;
    return nullptr;
}

void ControlTable::Notify(const Control& c, ControlChange change, std::string_view bytes) {
    if (m_observer) m_observer->OnControlChanged(c, change, bytes);
}

void ControlTable::Show(int id, bool show) {
    Control* c = Find(id);
    if (!c || c->visible == show) return;
    c->visible = show;
    Notify(*c, ControlChange::Visible);
}

void ControlTable::Enable(int id, bool enable) {
    Control* c = Find(id);
    if (!c || c->enabled == enable) return;
    c->enabled = enable;
    Notify(*c, ControlChange::Enabled);
}

void ControlTable::SetText(int id, const std::string& text) {
    Control* c = Find(id);
    if (!c || c->text == text) return;
    ++c->textVersion;
    c->text = text;
    Notify(*c, ControlChange::Text);
}

void ControlTable::ChangePaneText(int id, size_t dropped, std::string_view appended) {
    Control* c = Find(id);
    if (!c || (dropped == 0 && appended.empty())) return;
    ++c->textVersion;
    if (dropped > 0) {
        dropped = std::min(dropped, c->text.size());
        Notify(*c, ControlChange::TextDropped, std::string_view(c->text).substr(0, dropped));
        c->text.erase(0, dropped);
    }
    if (!appended.empty()) {
        const size_t old = c->text.size();
        c->text.append(appended);
        Notify(*c, ControlChange::TextAppended, std::string_view(c->text).substr(old));
    }
}

uint64_t ControlTable::TextVersion(int id) const {
    const Control* c = Find(id);
    return c ? c->textVersion : 0;
}

void ControlTable::Move(int id, const Rect& pixels) {
    Control* c = Find(id);
    if (!c || c->rect == pixels) return;
    c->rect = pixels;
    Notify(*c, ControlChange::Rect);
}

void ControlTable::SetCheck(int id, int checked) {
    Control* c = Find(id);
    if (!c) return;
    checked = checked ? 1 : 0;
    if (c->checked == checked) return;
    c->checked = checked;
    Notify(*c, ControlChange::Checked);
}

void ControlTable::SetFocus(int id) {
    Control* c = Find(id);
    if (!c) return;
    m_focus = id;
    Notify(*c, ControlChange::Focus);
}

void ControlTable::UserSetText(int id, const std::string& text) {
    if (Control* c = Find(id)) {
        c->text = text;
        ++c->textVersion;
    }
}

void ControlTable::UserClick(int id) {
    Control* c = Find(id);
    if (!c) return;
    if (c->kind == ControlKind::CheckBox) {
        SetCheck(id, c->checked ? 0 : 1);
    } else if (c->kind == ControlKind::Radio) {
        if (c->radioGroup != 0)
            for (Control& other : m_controls)
                if (other.id != id && other.kind == ControlKind::Radio &&
                    other.radioGroup == c->radioGroup)
                    SetCheck(other.id, 0);
        SetCheck(id, 1);
    }
}

void ControlTable::SetTabs(const std::vector<std::string>& captions) {
    m_tabs = captions;
    if (Control* c = Find(1005)) Notify(*c, ControlChange::Tabs);
}

void ControlTable::SetTabSelection(int index) {
    if (index < 0 || index >= static_cast<int>(m_tabs.size())) return;
    m_tabSelection = index;
    if (Control* c = Find(1005)) Notify(*c, ControlChange::Tabs);
}

const std::string& ControlTable::Text(int id) const {
    const Control* c = Find(id);
    return c ? c->text : kEmpty;
}

int ControlTable::Checked(int id) const {
    const Control* c = Find(id);
    return c ? c->checked : 0;
}

bool ControlTable::IsVisible(int id) const {
    const Control* c = Find(id);
    return c && c->visible;
}

bool ControlTable::IsEnabled(int id) const {
    const Control* c = Find(id);
    return c && c->enabled;
}

}  // namespace kalvor
