// The calibration pages: "Set Environmant" reads the module's stored record and RVDT average and
// writes a record computed from the page's boxes; "Notes Init" writes one of four fixed records.
// The same four buttons serve both pages and decide by the current page.
#include <cstdio>

#include "console/console_dlg.h"

namespace kalvor {

namespace {

constexpr int kEnvironmentPage = 4;
constexpr int kNotesInitPage = 5;
constexpr int kLimit1Max = 0x7F0;

// A 12-bit value as three nibble digits, most significant first. Each nibble is masked so an
// out-of-range value can never put a byte other than '0'..'?' on the line.
void AppendNibbles(StoredFrame& f, int v) {
    f.Append(static_cast<uint8_t>(0x30 + ((v >> 8) & 0x0F)));
    f.Append(static_cast<uint8_t>(0x30 + ((v >> 4) & 0x0F)));
    f.Append(static_cast<uint8_t>(0x30 + (v & 0x0F)));
}

std::string Hex3(int v) {
    char text[16];
    std::snprintf(text, sizeof text, "%3x", static_cast<unsigned>(v));
    return text;
}

int Low(char c) { return static_cast<unsigned char>(c) & 0x0F; }

struct NoteType {
    uint8_t bytes[9];
};
constexpr NoteType kNoteTypes[4] = {
    {{0x37, 0x3F, 0x30, 0x32, 0x38, 0x30, 0x26, 0x3E, 0x30}},  // "(60 - 65mm)"
    {{0x37, 0x3F, 0x30, 0x32, 0x38, 0x30, 0x29, 0x42, 0x30}},  // "(65 - 70mm)"
    {{0x37, 0x3F, 0x30, 0x32, 0x38, 0x30, 0x2D, 0x47, 0x30}},  // "(70 - 75mm)"
    {{0x3F, 0x37, 0x30, 0x32, 0x38, 0x30, 0x30, 0x4C, 0x30}},  // "(75 - 80mm)"
};

}  // namespace

int CConsoleDlg::HexDigitValue(char c) {
    if (c >= '1' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

void CConsoleDlg::SendCalibrationFrame() { m_link.SendStored(kAckWaitMs); }

void CConsoleDlg::LogStoredFrame() {
    UpdateData(true);
    char hex[4];
    for (uint8_t i = 0; i < m_link.frame.length; ++i) {
        std::snprintf(hex, sizeof hex, "%02x ", m_link.frame.bytes[i]);
        m_strMessage += hex;
    }
    UpdateData(false);
}

void CConsoleDlg::OnSetOrType1() {
    if (m_nCurrentPage == kEnvironmentPage) {
        if (BuildCalibrationWrite() != 0) {
            // Under ZEDA2000 the second block needs its own average; without it nothing is sent,
            // and the operator is told why (the other invalid boxes stay silent, as described).
            if (m_secondAverageMissing) {
                UpdateData(true);
                const bool newLine = !m_strMessage.empty() && m_strMessage.back() != '\n';
                AppendMessage(std::string(newLine ? "\r\n" : "") +
                              "Nothing sent: the lower RVDT Avarage (1097) needs three hexadecimal digits "
                              "- press REQ AVERAGE or type it\r\n");
            }
            return;
        }
        LogStoredFrame();
        SendCalibrationFrame();
    } else if (m_nCurrentPage == kNotesInitPage) {
        BuildNoteTypeWrite(0);
        LogStoredFrame();
        SendCalibrationFrame();
    }
}

void CConsoleDlg::OnReqSeepromOrType2() {
    if (m_nCurrentPage == kEnvironmentPage) {
        BuildSeepromRequest();
        SendCalibrationFrame();
    } else if (m_nCurrentPage == kNotesInitPage) {
        BuildNoteTypeWrite(1);
        SendCalibrationFrame();
    }
}

void CConsoleDlg::OnReqAverageOrType3() {
    if (m_nCurrentPage == kEnvironmentPage) {
        BuildAverageRequest();
        SendCalibrationFrame();
    } else if (m_nCurrentPage == kNotesInitPage) {
        BuildNoteTypeWrite(2);
        SendCalibrationFrame();
    }
}

void CConsoleDlg::OnType4() {
    if (m_nCurrentPage != kNotesInitPage) return;
    BuildNoteTypeWrite(3);
    SendCalibrationFrame();
}

void CConsoleDlg::BuildSeepromRequest() { m_link.frame.Build(cmd::ReadCalibration); }

void CConsoleDlg::BuildAverageRequest() { m_link.frame.Build(cmd::ReadAverage); }

namespace {

// Three hexadecimal digits of an average box; false (value untouched) unless exactly three.
bool ParseAverageBox(const std::string& t, int& value) {
    if (t.size() != 3) return false;
    value = 256 * CConsoleDlg::HexDigitValue(t[0]) + 16 * CConsoleDlg::HexDigitValue(t[1]) +
            CConsoleDlg::HexDigitValue(t[2]);
    return true;
}

// RVDT limit 1 and 2 of a block from its average and margins; limit 1 never above 0x7F0.
void ComputeLimits(int average, int plus, int minus, int& limit1, int& limit2) {
    limit2 = (100 - minus) * average / 100;
    limit1 = (plus + 100) * average / 100;
    if (limit1 > kLimit1Max) limit1 = kLimit1Max;
}

}  // namespace

int CConsoleDlg::ParseAverage() {
    int result = ParseAverageBox(m_strAverage1, m_nAverage) ? 0 : 1;
    // Under ZEDA2000 the second block's limits come from its own average (box 1097).
    m_secondAverageMissing = m_nModel == 1 && !ParseAverageBox(m_strAverage2, m_nAverage2);
    if (m_secondAverageMissing) result = 1;
    return result;
}

int CConsoleDlg::ParseNoteLengths() {
    // Both blocks carry their lengths as plain values: the characters 4 and 1 give 41 (0x29).
    auto length = [](const std::string& t, uint8_t& value) {
        if (t.size() != 2) return false;
        value = static_cast<uint8_t>(10 * Low(t[0]) + Low(t[1]));
        return true;
    };
    if (!length(m_strLen1a, m_nLen1a) || !length(m_strLen1b, m_nLen1b)) return 1;
    if (m_nModel != 1) {
        m_nLen2a = 0;
        m_nLen2b = 0;
        return 0;
    }
    if (!length(m_strLen2a, m_nLen2a) || !length(m_strLen2b, m_nLen2b)) return 1;
    return 0;
}

int CConsoleDlg::ParseMargins() {
    // One or two characters read by their low four bits; a value above 99 ("??" gives 165) is
    // refused like a bad box, as it would make limit 2 negative.
    auto margin = [](const std::string& t, int& value) {
        if (t.empty() || t.size() > 2) return false;
        const int v = t.size() == 1 ? Low(t[0]) : 10 * Low(t[0]) + Low(t[1]);
        if (v > 99) return false;
        value = v;
        return true;
    };
    if (!margin(m_strPlus1, m_nPlus1) || !margin(m_strMinus1, m_nMinus1)) return 1;
    if (m_nModel == 1) {
        if (!margin(m_strPlus2, m_nPlus2) || !margin(m_strMinus2, m_nMinus2)) return 1;
    } else {
        m_nPlus2 = 0;
        m_nMinus2 = 0;
    }
    UpdateData(true);
    char line[48];
    std::snprintf(line, sizeof line, "\n\r Upper_low_margin %02d", m_nPlus1);
    m_strMessage += line;
    std::snprintf(line, sizeof line, "\n\r Upper_high_margin %02d", m_nMinus1);
    m_strMessage += line;
    UpdateData(false);
    return 0;
}

uint8_t CConsoleDlg::BuildCalibrationWrite() {
    UpdateData(true);
    UpdateData(false);
    StoredFrame& f = m_link.frame;
    f.Begin(cmd::WriteCalibration);
    // All three run, whatever the first ones found.
    const int result = ParseAverage() + ParseNoteLengths() + ParseMargins();
    UpdateData(true);
    ComputeLimits(m_nAverage, m_nPlus1, m_nMinus1, m_nLimit1, m_nLimit2);
    m_strMax1 = Hex3(m_nLimit2);
    m_strMin1 = Hex3(m_nLimit1);
    if (m_nModel == 1) {
        ComputeLimits(m_nAverage2, m_nPlus2, m_nMinus2, m_nLimit1b, m_nLimit2b);
        m_strMax2 = Hex3(m_nLimit2b);
        m_strMin2 = Hex3(m_nLimit1b);
    }
    UpdateData(false);

    f.Append(0x15);
    AppendNibbles(f, m_nLimit1);
    AppendNibbles(f, m_nLimit2);
    f.Append(m_nLen1a);
    f.Append(m_nLen1b);
    f.Append(0x00);
    if (m_nModel == 1) {
        // The second block in the layout of the first, from its own average and margins.
        AppendNibbles(f, m_nLimit1b);
        AppendNibbles(f, m_nLimit2b);
        f.Append(m_nLen2a);
        f.Append(m_nLen2b);
        f.Append(0x00);
    } else {
        for (int i = 0; i < 9; ++i) f.Append(0x30);
    }
    f.Finish();
    return static_cast<uint8_t>(result);
}

void CConsoleDlg::BuildNoteTypeWrite(int type) {
    if (type < 0 || type > 3) return;
    StoredFrame& f = m_link.frame;
    f.Begin(cmd::WriteCalibration);
    f.Append(0x15);
    for (uint8_t b : kNoteTypes[type].bytes) f.Append(b);
    if (m_nModel == 1) {
        for (uint8_t b : kNoteTypes[type].bytes) f.Append(b);
    } else {
        for (int i = 0; i < 7; ++i) f.Append(0x30);
    }
    f.Finish();
}

}  // namespace kalvor
