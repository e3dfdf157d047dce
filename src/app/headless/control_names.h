// Names for the controls of the current page, as a script speaks of them: a button, check box or
// radio by its current caption, an edit by the caption of the label beside or above it, a tab by
// its caption. Only what is visible now has a name; one name may fit several controls.
#pragma once

#include <string>
#include <vector>

#include "console/control_table.h"

namespace kalvor {

struct ControlName {
    std::string name;
    int id = 0;        // the control, or the tab index when `tab` is set
    bool tab = false;
};

// The caption without its leading and trailing blanks ("Set        " is "Set").
std::string CaptionName(const std::string& caption);

// The label of an edit: the visible static, with a letter in its caption, that ends just left of
// the edit on the same row or just above it over the same columns; the nearest wins. Empty when
// there is none.
std::string EditLabel(const ControlTable& controls, const Control& edit);

// Every name of the current page: the tabs first, then the controls in template order.
std::vector<ControlName> CurrentNames(const ControlTable& controls);

// The visible controls (not tabs) that `name` fits.
std::vector<int> ControlsNamed(const ControlTable& controls, const std::string& name);
// The tabs that `name` fits.
std::vector<int> TabsNamed(const ControlTable& controls, const std::string& name);

}  // namespace kalvor
