#include "app/headless/control_names.h"

#include <cctype>
#include <climits>

namespace kalvor {

namespace {

// Pixels a label may stand apart from its edit, and overlap it, and still label it.
constexpr int kLabelReach = 24;
constexpr int kLabelOverlap = 3;

bool HasLetter(const std::string& s) {
    for (char c : s)
        if (std::isalpha(static_cast<unsigned char>(c))) return true;
    return false;
}

bool Nameable(const Control& c) {
    return c.kind == ControlKind::Button || c.kind == ControlKind::CheckBox || c.kind == ControlKind::Radio;
}

// How far `label` stands from `edit` when it labels it (left on the same row, or above over the
// same columns); INT_MAX when it does not.
int LabelDistance(const Rect& label, const Rect& edit) {
    const bool sameRow = label.y < edit.y + edit.h && edit.y < label.y + label.h;
    const bool sameColumns = label.x < edit.x + edit.w && edit.x < label.x + label.w;
    const int leftGap = edit.x - (label.x + label.w);
    const int aboveGap = edit.y - (label.y + label.h);
    int best = INT_MAX;
    if (sameRow && leftGap >= -kLabelOverlap && leftGap <= kLabelReach) best = leftGap < 0 ? 0 : leftGap;
    if (sameColumns && aboveGap >= -kLabelOverlap && aboveGap <= kLabelReach) {
        const int d = aboveGap < 0 ? 0 : aboveGap;
        if (d < best) best = d;
    }
    return best;
}

}  // namespace

std::string CaptionName(const std::string& caption) {
    size_t b = 0, e = caption.size();
    while (b < e && std::isspace(static_cast<unsigned char>(caption[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(caption[e - 1]))) --e;
    return caption.substr(b, e - b);
}

std::string EditLabel(const ControlTable& controls, const Control& edit) {
    const Control* best = nullptr;
    int bestDistance = INT_MAX;
    for (const Control& c : controls.All()) {
        if (c.kind != ControlKind::Static || !c.visible || !HasLetter(c.text)) continue;
        const int d = LabelDistance(c.rect, edit.rect);
        if (d < bestDistance) {
            bestDistance = d;
            best = &c;
        }
    }
    return best ? CaptionName(best->text) : std::string();
}

std::vector<ControlName> CurrentNames(const ControlTable& controls) {
    std::vector<ControlName> names;
    const std::vector<std::string>& tabs = controls.Tabs();
    for (size_t i = 0; i < tabs.size(); ++i) names.push_back({CaptionName(tabs[i]), static_cast<int>(i), true});
    for (const Control& c : controls.All()) {
        if (c.id <= 0 || !c.visible) continue;
        std::string name;
        if (Nameable(c)) name = CaptionName(c.text);
        else if (c.kind == ControlKind::Edit) name = EditLabel(controls, c);
        if (!name.empty()) names.push_back({name, c.id, false});
    }
    return names;
}

std::vector<int> ControlsNamed(const ControlTable& controls, const std::string& name) {
    std::vector<int> ids;
    for (const ControlName& n : CurrentNames(controls))
        if (!n.tab && n.name == name) ids.push_back(n.id);
    return ids;
}

std::vector<int> TabsNamed(const ControlTable& controls, const std::string& name) {
    std::vector<int> tabs;
    for (const ControlName& n : CurrentNames(controls))
        if (n.tab && n.name == name) tabs.push_back(n.id);
    return tabs;
}

}  // namespace kalvor
