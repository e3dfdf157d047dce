// The control table: one record per control of the dialog template, with its template data and
// its live state. The console acts on controls only through this table; the Qt host mirrors every
// change onto a widget, the headless and test hosts read it as it is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kalvor {

enum class ControlKind { Button, CheckBox, Radio, Edit, Static, GroupBox, TabStrip };

enum ControlStyle : uint32_t {
    kStyleDisabled = 1u << 0,
    kStyleRightAlign = 1u << 1,
    kStyleMultiLine = 1u << 2,
    kStyleDefaultButton = 1u << 3,
};

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Rect&) const = default;
};

// Ids of the two pane labels, which have no id of their own in the template.
constexpr int kLabelMessage = -1003;
constexpr int kLabelStatus = -1004;

// Dialog units become pixels at 7/4 px across and 9/5 px down. The layout tables of the pages
// give pixels; at this scale every table lands inside the tab strip and no control of a page
// covers another (at 2 px per unit the MENU buttons would lie on the request edits and the
// SETUP "OK" on the Port group).
constexpr int DialogUnitsToPixelsX(int du) { return (du * 7 + 2) / 4; }
constexpr int DialogUnitsToPixelsY(int du) { return (du * 9 + 2) / 5; }
constexpr Rect DialogUnitsToPixels(int x, int y, int w, int h) {
    return {DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y),
            DialogUnitsToPixelsX(x + w) - DialogUnitsToPixelsX(x),
            DialogUnitsToPixelsY(y + h) - DialogUnitsToPixelsY(y)};
}

struct Control {
    int id = 0;
    ControlKind kind = ControlKind::Static;
    std::string templateCaption;
    Rect templateRect;  // dialog units
    uint32_t style = 0;
    int radioGroup = 0;  // radios with the same non-zero group exclude each other

    // Live state.
    std::string text;
    int checked = 0;
    uint64_t textVersion = 0;  // counts the changes of `text`, whoever made them
    bool visible = true;
    bool enabled = true;
    Rect rect;  // pixels
};

enum class ControlChange { Text, TextAppended, TextDropped, Checked, Visible, Enabled, Rect, Focus, Tabs };

class ControlObserver {
public:
    virtual ~ControlObserver() = default;
    // For TextAppended, `bytes` is the new tail; the control's text already includes it.
    // For TextDropped, `bytes` is the oldest text, about to be dropped from the front of the
    // control's text (which still includes it while the observer runs). Otherwise empty.
    virtual void OnControlChanged(const Control& control, ControlChange change, std::string_view bytes) = 0;
};

class ControlTable {
public:
    ControlTable();

    const std::vector<Control>& All() const { return m_controls; }
    Control* Find(int id);
    const Control* Find(int id) const;

    void SetObserver(ControlObserver* observer) { m_observer = observer; }

    // Changes made by the console (ShowWindow, EnableWindow, SetWindowText, MoveWindow, SetFocus,
    // check state). Each notifies the observer when the state really changes.
    void Show(int id, bool show);
    void Enable(int id, bool enable);
    // Replaces the whole text (ControlChange::Text).
    void SetText(int id, const std::string& text);
    // A pane's text changes by dropping `dropped` bytes from its front and appending `appended`
    // (what the dialog's pane log did since the last exchange): the observer is told exactly that.
    void ChangePaneText(int id, size_t dropped, std::string_view appended);
    uint64_t TextVersion(int id) const;
    void Move(int id, const Rect& pixels);
    void SetCheck(int id, int checked);
    void SetFocus(int id);
    int Focus() const { return m_focus; }

    // What the operator does, as the platform would do it: typing replaces an edit's text; a click
    // on a check box toggles it, on a radio sets it and clears the others of its group.
    void UserSetText(int id, const std::string& text);
    void UserClick(int id);

    // The tab strip (control 1005).
    void SetTabs(const std::vector<std::string>& captions);
    const std::vector<std::string>& Tabs() const { return m_tabs; }
    int TabSelection() const { return m_tabSelection; }
    void SetTabSelection(int index);

    const std::string& Text(int id) const;
    int Checked(int id) const;
    bool IsVisible(int id) const;
    bool IsEnabled(int id) const;

private:
    void Notify(const Control& c, ControlChange change, std::string_view bytes = {});

    std::vector<Control> m_controls;
    std::vector<std::string> m_tabs;
    int m_tabSelection = 0;
    int m_focus = 0;
    ControlObserver* m_observer = nullptr;
};

}  // namespace kalvor
