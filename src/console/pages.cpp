// The page switch: every page is a set of the template's controls that is shown, the others
// hidden; some controls get a new caption and place, a few are enabled or disabled, and the
// focus moves.
#include "console/console_dlg.h"
#include "console/layout_tables.h"

namespace kalvor {

const char* const CConsoleDlg::kPageCaptions[6] = {"STATUS", "MENU", "SETUP", "TP", "Set Environmant",
                                                   "Notes Init"};

namespace {
template <size_t N>
void ShowAll(ControlTable& t, const int (&ids)[N], bool show) {
    for (int id : ids) t.Show(id, show);
}
}  // namespace

void CConsoleDlg::ApplyLayout(const ControlLayout* table, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const ControlLayout& r = table[i];
        m_controls.Show(r.id, true);
        m_controls.SetText(r.id, r.caption);
        m_controls.Move(r.id, {r.left, r.top, r.right - r.left, r.bottom - r.top});
    }
}

void CConsoleDlg::HideCalibrationControls() {
    for (int id : CalibrationControls) Show(id, false);
}

void CConsoleDlg::HideSetupPage() {
    static const int ids[] = {1010, 1011, 1023, 1016, 1017, 1018, 1019, 1006, 1007, 1008, 1009,
                              1012, 1013, 1014, 1020, 1021, 1022, 1052, 1127, 2};
    ShowAll(m_controls, ids, false);
}

void CConsoleDlg::ShowSetupPage() {
    static const int ids[] = {1010, 1011, 1023, 1016, 1017, 1018, 1019, 1006, 1007, 1008, 1009,
                              1012, 1013, 1014, 1020};
    ShowAll(m_controls, ids, true);
    m_controls.SetFocus(1020);
    Show(1021, false);
    Show(1022, false);
    Show(1127, true);
    m_controls.SetText(1020, "OK");
    m_controls.Move(1020, {365, 200, 65, 25});
}

void CConsoleDlg::HideMenuPage() {
    static const int ids[] = {1033, 1034, 1035, 1044, 1053, 1026, 1027, 1119, 1120, 1121,
                              1028, 1029, 1030, 1031, 1032, 1020, 1021, 1022, 1052, 1068,
                              1072, 1073, 1117, 1132, 1128, 1129, 1130, 1131, 1133, 1134,
                              1135, 1136, 1137, 2};
    ShowAll(m_controls, ids, false);
}

void CConsoleDlg::ApplyModelEnables() {
    const bool enable = m_nModel == 1;
    m_controls.Enable(1027, enable);
    m_controls.Enable(1044, enable);
    m_controls.Enable(1029, enable);
}

void CConsoleDlg::ShowMenuPage() {
    static const int first[] = {1033, 1034, 1035, 1053, 1026, 1027, 1044, 1029};
    static const int second[] = {1119, 1120, 1121, 1028, 1030, 1031, 1032, 1020, 1022, 1068, 1072, 1073};
    static const int third[] = {1128, 1130, 1131, 1133, 1134, 1135, 1129, 1136, 1137};
    ShowAll(m_controls, first, true);
    ApplyModelEnables();
    ShowAll(m_controls, second, true);
    Show(1117, false);
    ShowAll(m_controls, third, true);
    m_controls.SetFocus(1020);
}

void CConsoleDlg::HideStatusPage() {
    static const int ids[] = {1036, 1037, 1038, 1039, 1040, 1041, 1042, 1043, 1045, 1046, 1047,
                              1048, 1118, 1049, 1020, 1021, 1022, 1051, 1050, 1052, 2};
    ShowAll(m_controls, ids, false);
}

void CConsoleDlg::ShowStatusPage() {
    static const int ids[] = {1036, 1037, 1038, 1039, 1040, 1041, 1042, 1043,
                              1045, 1046, 1047, 1048, 1118, 1049};
    static const int hide[] = {1020, 1021, 1022, 1051};
    ShowAll(m_controls, ids, true);
    ShowAll(m_controls, hide, false);
    Show(1050, true);
    m_controls.SetFocus(1050);
}

void CConsoleDlg::HideTpPage() {
    static const int ids[] = {1054, 1055, 1056, 1057, 1058, 1059, 1060, 1061, 1122, 1030, 1034,
                              1066, 1067, 1069, 1070, 1071, 1123, 1124, 1125, 1126};
    ShowAll(m_controls, ids, false);
}

void CConsoleDlg::ShowTpPage() {
    static const int buttons[] = {1054, 1055, 1056, 1057, 1058, 1059, 1060};
    static const int hide[] = {1061, 1030, 1034};
    static const int more[] = {1066, 1067, 1069};
    static const int select[] = {1123, 1124, 1125, 1126};
    ShowAll(m_controls, buttons, true);
    ShowAll(m_controls, hide, false);
    ShowAll(m_controls, more, true);
    Show(1071, false);
    m_controls.SetFocus(1054);
    Show(1122, false);
    ShowAll(m_controls, select, true);
    Show(2, false);
}

void CConsoleDlg::ShowPage() {
    auto panes = [this] {
        Show(1003, true);
        Show(1004, true);
    };
    switch (m_nCurrentPage) {
    case 0:
        HideSetupPage();
        HideMenuPage();
        HideTpPage();
        HideCalibrationControls();
        ShowStatusPage();
        panes();
        UpdateData(true);
        UpdateData(false);
        break;
    case 1:
        HideSetupPage();
        HideStatusPage();
        HideTpPage();
        HideCalibrationControls();
        ShowMenuPage();
        ApplyLayout(MenuLayout, std::size(MenuLayout));
        panes();
        break;
    case 2:
        HideMenuPage();
        HideStatusPage();
        HideTpPage();
        HideCalibrationControls();
        ShowSetupPage();
        panes();
        break;
    case 3:
        HideMenuPage();
        HideStatusPage();
        HideSetupPage();
        HideCalibrationControls();
        ShowTpPage();
        panes();
        break;
    case 4:
    case 5:
        HideMenuPage();
        HideStatusPage();
        HideSetupPage();
        HideTpPage();
        HideCalibrationControls();
        if (m_nCurrentPage == 4)
            ApplyLayout(EnvironmentLayout, std::size(EnvironmentLayout));
        else
            ApplyLayout(NotesInitLayout, std::size(NotesInitLayout));
        panes();
        m_controls.SetFocus(m_nCurrentPage == 4 ? 1099 : 1098);
        break;
    default:
        break;
    }
    UpdateData(true);
    if (m_nCurrentPage == 4) {
        m_strPlus1 = "30";
        m_strMinus1 = "13";
    }
    UpdateData(false);
}

}  // namespace kalvor
