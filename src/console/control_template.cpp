// The dialog template: the 132 controls with their ids, kinds, captions, places (dialog units),
// styles and radio groups. Controls that only the calibration pages show sit where those pages'
// layout tables put them (hidden until then); controls that no page shows are parked in the free
// strip under the Status pane, hidden.
#include "console/control_table.h"

namespace kalvor {
namespace {

using K = ControlKind;
constexpr uint32_t D = kStyleDisabled;
constexpr uint32_t R = kStyleRightAlign;
constexpr uint32_t M = kStyleMultiLine;
constexpr uint32_t F = kStyleDefaultButton;

struct TemplateRow {
    int id;
    ControlKind kind;
    const char* caption;
    int x, y, w, h;
    uint32_t style;
    int group;
};

const char kDashes[] = "---------------------------------------------------------";  // 57

constexpr TemplateRow kTemplate[] = {
    // Every page.
    {1005, K::TabStrip, "", 20, 10, 235, 155, 0, 0},
    {kLabelMessage, K::Static, "Message", 20, 170, 50, 11, 0, 0},
    {1003, K::Edit, "", 20, 186, 235, 54, M, 0},
    {kLabelStatus, K::Static, "Status", 20, 244, 30, 11, 0, 0},
    {1004, K::Edit, "", 20, 260, 235, 40, M, 0},
    {1, K::Button, "EXIT", 200, 310, 50, 14, 0, 0},
    // "STATUS" page.
    {1036, K::CheckBox, "CHK Sensor 1", 30, 30, 60, 15, D, 0},
    {1037, K::CheckBox, "CHK Sensor 2", 30, 46, 60, 15, D, 0},
    {1038, K::CheckBox, "DIV Sensor 1", 30, 62, 60, 15, D, 0},
    {1039, K::CheckBox, "DIV Sensor 2", 30, 78, 60, 15, D, 0},
    {1040, K::CheckBox, "EJT Sensor", 30, 94, 60, 15, D, 0},
    {1041, K::CheckBox, "Exit Sensor ", 30, 110, 60, 15, D, 0},
    {1042, K::CheckBox, "CHK Sensor 3", 30, 126, 60, 15, D, 0},
    {1043, K::CheckBox, "CHK Sensor 4", 30, 140, 60, 15, D, 0},
    {1045, K::CheckBox, "Reject Tray", 100, 30, 65, 15, D, 0},
    {1047, K::CheckBox, "Upper Cassette", 100, 46, 65, 15, D, 0},
    {1046, K::CheckBox, "Lower Cassette", 100, 62, 65, 15, D, 0},
    {1049, K::CheckBox, "Upper Nearend", 100, 78, 65, 15, D, 0},
    {1048, K::CheckBox, "Lower Nearend", 100, 94, 65, 15, D, 0},
    {1118, K::CheckBox, "SOL Sensor", 100, 110, 65, 15, D, 0},
    {1050, K::Button, "STATUS", 190, 27, 40, 20, F, 0},
    // "MENU" page.
    {1133, K::GroupBox, "Select", 50, 20, 150, 20, 0, 0},
    {1134, K::Radio, "ZEDA1000", 68, 25, 52, 13, 0, 5},
    {1135, K::Radio, "ZEDA2000", 120, 25, 75, 13, 0, 5},
    {1131, K::Static, kDashes, 30, 38, 170, 8, 0, 0},
    {1026, K::CheckBox, "UPPER", 36, 45, 34, 10, 0, 0},
    {1027, K::CheckBox, "LOWER", 36, 55, 34, 10, 0, 0},
    {1068, K::CheckBox, "Rsp Time", 36, 65, 50, 10, 0, 0},
    {1033, K::Static, "Upper Request Count", 97, 45, 70, 10, 0, 0},
    {1028, K::Edit, "", 174, 45, 20, 12, R, 0},
    {1044, K::Static, "Lower Request Count", 97, 60, 70, 10, 0, 0},
    {1029, K::Edit, "", 174, 60, 20, 12, R, 0},
    {1034, K::Static, "Repeat Count", 97, 75, 70, 10, 0, 0},
    {1030, K::Edit, "", 174, 75, 20, 12, R, 0},
    {1130, K::Static, kDashes, 30, 89, 170, 8, 0, 0},
    {1136, K::Static, "RJT Count", 36, 100, 35, 10, 0, 0},
    {1137, K::Edit, "", 75, 98, 20, 12, D | R, 0},
    {1035, K::Static, "Total Dispense Count", 97, 100, 75, 10, 0, 0},
    {1031, K::Edit, "", 174, 98, 20, 12, D | R, 0},
    {1053, K::Static, "Executed Count", 97, 113, 75, 10, 0, 0},
    {1032, K::Edit, "", 174, 113, 20, 12, D | R, 0},
    {1129, K::Static, "Cassette", 30, 132, 30, 10, 0, 0},
    {1072, K::CheckBox, "Upper Empty", 70, 130, 65, 15, D, 0},
    {1073, K::CheckBox, "Lower Empty", 130, 130, 65, 15, D, 0},
    {1128, K::Static, "Reject", 30, 145, 30, 10, 0, 0},
    {1119, K::CheckBox, "Double", 70, 145, 60, 10, D, 0},
    {1120, K::CheckBox, "Nearing", 130, 145, 66, 10, D, 0},
    {1121, K::CheckBox, "Length", 180, 145, 60, 10, D, 0},
    // 1020, 1022 and 1051 as the template has them; the pages move and relabel them.
    {1020, K::Button, "OK", 180, 25, 35, 12, F, 0},
    {1022, K::Button, "Cancle", 180, 65, 35, 12, 0, 0},
    {1051, K::Button, "Purge", 180, 85, 35, 12, 0, 0},
    // "SETUP" page.
    {1011, K::GroupBox, "Parity", 32, 35, 50, 60, 0, 0},
    {1012, K::Radio, "None", 36, 51, 40, 10, 0, 1},
    {1013, K::Radio, "Even", 36, 64, 40, 10, 0, 1},
    {1014, K::Radio, "Odd", 36, 78, 40, 10, 0, 1},
    {1023, K::GroupBox, "Baud Rate", 103, 34, 50, 75, 0, 0},
    {1016, K::Radio, "4800", 106, 50, 40, 10, 0, 2},
    {1017, K::Radio, "9600", 106, 64, 40, 10, 0, 2},
    {1018, K::Radio, "19200", 106, 80, 40, 10, 0, 2},
    {1019, K::Radio, "38400", 106, 95, 40, 10, 0, 2},
    {1010, K::GroupBox, "Port", 172, 35, 50, 75, 0, 0},
    {1006, K::Radio, "COM1", 177, 50, 40, 10, 0, 3},
    {1007, K::Radio, "COM2", 177, 65, 40, 10, 0, 3},
    {1008, K::Radio, "COM3", 177, 79, 40, 10, 0, 3},
    {1009, K::Radio, "COM4", 177, 91, 40, 10, 0, 3},
    {1127, K::Static, "\"Please Press OK Button\"", 100, 135, 100, 20, 0, 0},
    // "TP" page.
    {1054, K::Button, "DIVERT", 30, 30, 60, 15, 0, 0},
    {1055, K::Button, "BLDC SPEED", 30, 46, 60, 15, 0, 0},
    {1056, K::Button, "BILL LEN", 30, 62, 60, 15, 0, 0},
    {1057, K::Button, "DIVERTING", 30, 78, 60, 15, 0, 0},
    {1058, K::Button, "RVDT", 30, 94, 60, 15, 0, 0},
    {1059, K::Button, "CLUTCH", 30, 110, 60, 15, 0, 0},
    {1060, K::Button, "ROM Ver", 30, 126, 60, 15, 0, 0},
    {1066, K::Button, "RVDT RANGE", 30, 142, 60, 15, 0, 0},
    {1123, K::Button, "Reject Bill", 130, 30, 60, 15, 0, 0},
    {1069, K::Button, "READ DIP", 130, 46, 60, 15, 0, 0},
    {1067, K::Button, "RVDT Value", 130, 62, 60, 15, 0, 0},
    {1124, K::GroupBox, "Select", 182, 121, 55, 40, 0, 0},
    {1125, K::Radio, "UPPER", 187, 131, 45, 10, 0, 4},
    {1126, K::Radio, "LOWER", 187, 145, 45, 10, 0, 4},
    // Calibration pages: where the "Set Environmant" layout puts them (pixels / 2).
    {1074, K::Static, "RVDT Avarage", 25, 25, 40, 11, 0, 0},
    {1075, K::Static, "+ Margin", 80, 25, 30, 11, 0, 0},
    {1076, K::Static, "- Margin", 112, 25, 30, 11, 0, 0},
    {1077, K::Static, "RVDT MIN", 25, 48, 32, 8, 0, 0},
    {1078, K::Static, "RVDT MAX", 58, 48, 32, 8, 0, 0},
    {1079, K::Static, "%", 102, 38, 12, 9, 0, 0},
    {1080, K::Static, "%", 135, 38, 12, 9, 0, 0},
    {1081, K::Static, "NOTES LENGTH", 100, 48, 76, 8, 0, 0},
    {1082, K::Edit, "", 25, 36, 25, 10, 0, 0},
    {1083, K::Edit, "", 80, 36, 20, 10, 0, 0},
    {1084, K::Edit, "", 115, 36, 17, 10, 0, 0},
    {1085, K::Edit, "", 25, 56, 25, 10, 0, 0},
    {1086, K::Edit, "", 60, 56, 25, 10, 0, 0},
    {1095, K::Edit, "", 100, 56, 15, 10, 0, 0},
    {1096, K::Edit, "", 115, 56, 15, 10, 0, 0},
    {1089, K::Static, "RVDT Avarage", 25, 75, 40, 11, 0, 0},
    {1090, K::Static, "+ Margin", 80, 75, 30, 11, 0, 0},
    {1091, K::Static, "- Margin", 112, 75, 30, 11, 0, 0},
    {1092, K::Static, "RVDT MIN", 25, 98, 32, 8, 0, 0},
    {1093, K::Static, "RVDT MAX", 58, 98, 32, 8, 0, 0},
    {1094, K::Static, "%", 102, 88, 12, 9, 0, 0},
    {1101, K::Static, "%", 135, 88, 12, 9, 0, 0},
    {1102, K::Static, "NOTES LENGTH", 100, 98, 50, 8, 0, 0},
    {1097, K::Edit, "", 25, 86, 25, 10, 0, 0},
    {1110, K::Edit, "", 80, 86, 20, 10, 0, 0},
    {1111, K::Edit, "", 115, 86, 17, 10, 0, 0},
    {1113, K::Edit, "", 25, 106, 25, 10, 0, 0},
    {1114, K::Edit, "", 60, 106, 25, 10, 0, 0},
    {1115, K::Edit, "", 100, 106, 15, 10, 0, 0},
    {1116, K::Edit, "", 115, 106, 15, 10, 0, 0},
    {1098, K::Button, "Set        ", 155, 50, 55, 15, 0, 0},
    {1099, K::Button, "REQ SEEPROM", 155, 75, 55, 15, 0, 0},
    {1100, K::Button, "REQ AVERAGE", 155, 100, 55, 15, 0, 0},
    {1112, K::Button, "TYPE 4", 25, 70, 35, 12, 0, 0},
    // Shown by no page: parked under the Status pane, hidden.
    {2, K::Button, "Cancel", 20, 302, 20, 12, 0, 0},
    {1021, K::Button, "NG", 41, 302, 20, 12, 0, 0},
    {1052, K::CheckBox, "ZEDA2000", 62, 302, 20, 12, 0, 0},
    {1132, K::CheckBox, "ZEDA1000", 83, 302, 20, 12, 0, 0},
    {1061, K::Radio, "Lower", 104, 302, 20, 12, 0, 6},
    {1122, K::Radio, "Upper", 125, 302, 20, 12, 0, 6},
    {1070, K::Button, "BIT", 146, 302, 20, 12, 0, 0},
    {1071, K::Button, "RAMTEST", 167, 302, 20, 12, 0, 0},
    {1117, K::CheckBox, "Reject", 20, 316, 20, 12, 0, 0},
    {1087, K::Static, "", 41, 316, 20, 12, 0, 0},
    {1088, K::Static, "", 62, 316, 20, 12, 0, 0},
    {1103, K::Static, "", 83, 316, 20, 12, 0, 0},
    {1104, K::Static, "", 104, 316, 20, 12, 0, 0},
    {1105, K::Static, "", 125, 316, 20, 12, 0, 0},
    {1106, K::Static, "", 146, 316, 20, 12, 0, 0},
    {1107, K::Static, "", 167, 316, 20, 12, 0, 0},
    {1108, K::Static, "", 20, 330, 20, 2, 0, 0},
    {1109, K::Static, "", 41, 330, 20, 2, 0, 0},
};

}  // namespace

std::vector<Control> MakeTemplateControls() {
    std::vector<Control> controls;
    controls.reserve(std::size(kTemplate));
    for (const TemplateRow& row : kTemplate) {
        Control c;
        c.id = row.id;
        c.kind = row.kind;
        c.templateCaption = row.caption;
        c.templateRect = {row.x, row.y, row.w, row.h};
        c.style = row.style;
        c.radioGroup = row.group;
        c.text = row.caption;
        c.enabled = (row.style & kStyleDisabled) == 0;
        c.rect = DialogUnitsToPixels(row.x, row.y, row.w, row.h);
        controls.push_back(std::move(c));
    }
    return controls;
}

}  // namespace kalvor
