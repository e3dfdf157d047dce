#include "protocol/decoders.h"

#include <cstdio>

#include "protocol/error_codes.h"
#include "protocol/frame.h"
#include "protocol/link.h"

namespace kalvor {

namespace {

constexpr uint16_t kCap = Link::kFrameCapacity;

// Byte at position p; positions past the buffer read as 0 (never outside it).
uint8_t At(const uint8_t* f, int p) { return (p >= 0 && p < kCap) ? f[p] : 0; }
int Nib(const uint8_t* f, int p) { return At(f, p) & 0x0F; }

// A nibble digit shown as a character: bytes above '9' get 7 added (':'..'?' become 'A'..'F').
char HexDisplay(uint8_t b) { return static_cast<char>(b > 0x39 ? b + 7 : b); }

// Appends to a pane or a plain string.
template <typename Text, typename... Args>
void AppendF(Text& s, const char* format, Args... args) {
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, format, args...);
    if (n > 0) s.append(buf, static_cast<size_t>(n < static_cast<int>(sizeof buf) ? n : sizeof buf - 1));
}

void DecodePurgeReply(DecoderTarget& t, const uint8_t* f) {
    t.Pull();
    ErrorCodeBox(t, At(f, 4));
    t.StatusText() += "RESET";
    t.StatusText() += "\r\n";
    t.Push();
}

struct SensorBit {
    int bit;
    int ids[2];
};

constexpr SensorBit kSen0[] = {
    {0, {1036, 0}}, {1, {1037, 0}}, {2, {1038, 0}}, {3, {1039, 0}},
    {4, {1040, 0}}, {5, {1041, 0}}, {6, {1049, 1072}},
};
constexpr SensorBit kSen1Zeda1000[] = {{0, {1045, 0}}, {1, {1047, 0}}, {2, {1118, 0}}};
constexpr SensorBit kSen1Zeda2000[] = {
    {0, {1118, 0}}, {1, {1047, 0}}, {2, {1046, 0}}, {3, {1042, 0}},
    {4, {1043, 0}}, {5, {1048, 1073}}, {6, {1045, 0}},
};

template <size_t N>
void ApplyBits(DecoderTarget& t, uint8_t value, const SensorBit (&table)[N]) {
    for (const SensorBit& s : table)
        for (int id : s.ids)
            if (id != 0) t.CheckMember(id) = (value >> s.bit) & 1;
}

void DecodeStatusReply(DecoderTarget& t, const uint8_t* f) {
    t.Pull();
    PaneLog& status = t.StatusText();
    status += "STATUS";
    AppendF(status, " ERR : %02X SEN0 : %02X SEN1 : %02X", At(f, 5), At(f, 6), At(f, 7));
    status += "\r\n";
    ApplyBits(t, At(f, 6), kSen0);
    if (t.Model() == 1)
        ApplyBits(t, At(f, 7), kSen1Zeda2000);
    else
        ApplyBits(t, At(f, 7), kSen1Zeda1000);
    t.Push();
}

void DecodeRomVersionReply(DecoderTarget& t, const uint8_t* f) {
    t.Pull();
    // Written into the pane text in place, so that it keeps its buffer.
    PaneLog& m = t.MessageText();
    m.assign("ROM Ver = ");
    for (int p = 4; p <= 7; ++p) m += static_cast<char>(At(f, p));
    m += "   Check Sum = ";
    for (int p = 8; p <= 11; ++p) m += HexDisplay(At(f, p));
    // The model name follows the diagnostic page's "LOWER" radio, not the chosen model.
    t.StatusText() = t.CheckMember(1126) == 1 ? "ZEDA2000" : "ZEDA1000";
    t.Push();
}

void DecodeDivertReply(DecoderTarget& t, const uint8_t* f) {
    const uint8_t code = At(f, 4);
    if (code >= kFirstErrorCode && code < 0x80) {  // 0x69-0x7F: "Unknown Error"
        ErrorCodeBox(t, code);
        return;
    }
    const uint8_t command = At(f, 3);
    if (command == cmd::DivertingUpper || command == cmd::DivertingLower)
        t.StopBox("Remove bills in Reject Tray", "WORNING");
}

void DecodeMotorSpeedReply(DecoderTarget& t, const uint8_t* f) {
    const int speed = 4096 * Nib(f, 4) + 256 * Nib(f, 5) + 16 * Nib(f, 6) + Nib(f, 7);
    t.Pull();
    AppendF(t.MessageText(), " %d ", speed);
    t.Push();
}

void DecodeBillLengthReply(DecoderTarget& t, const uint8_t* f) {
    t.Pull();
    PaneLog& m = t.MessageText();
    for (int p = 4; p <= 9; ++p) AppendF(m, " %02X ", At(f, p));
    const int rvdt = static_cast<int8_t>(static_cast<uint8_t>((Nib(f, 10) << 4) | Nib(f, 11)));
    AppendF(m, " RVDT %02d ", rvdt);
    const int sum = 4096 * Nib(f, 12) + 256 * Nib(f, 13) + 16 * Nib(f, 14) + Nib(f, 15);
    AppendF(m, " SUM %04X ", sum);
    m += "\r\n";
    t.Push();
}

void DecodeRvdtReply(DecoderTarget& t, const uint8_t* f) {
    t.Pull();
    PaneLog& m = t.MessageText();
    for (int p = 4; p <= 13; ++p) {
        const int v = static_cast<int8_t>(static_cast<uint8_t>(0x80 - At(f, p)));
        AppendF(m, " %02d ", v);
    }
    m += "\r\n";
    t.Push();
}

void DecodeRvdtRangeReply(DecoderTarget& t, const uint8_t* f, uint16_t L) {
    t.Pull();
    PaneLog& m = t.MessageText();
    m += "Len ";
    AppendF(m, " %02d ", L);
    m += "\r\n";
    if (L > 6) {
        // A data length that is not a multiple of four shows one more group, made of the
        // remaining data bytes and the bytes after them.
        const int groups = (L - 6 + 3) / 4;
        for (int g = 0; g < groups; ++g) {
            const int p = 4 + 4 * g;
            AppendF(m, "%04X ", 4096 * Nib(f, p) + 256 * Nib(f, p + 1) + 16 * Nib(f, p + 2) + Nib(f, p + 3));
        }
    }
    m += "\r\n";
    t.Push();
}

void DecodeRvdtValueReply(DecoderTarget& t, const uint8_t* f, uint16_t L) {
    t.Pull();
    PaneLog& m = t.MessageText();
    m += "Len ";
    AppendF(m, " %02d ", L);
    m += "\r\n";
    if (L > 6)
        for (int p = 4; p <= L - 3; ++p) AppendF(m, "%d ", At(f, p));
    m += "\r\n";
    t.Push();
}

void DecodeDipReply(DecoderTarget& t, const uint8_t* f) {
    t.Pull();
    t.StatusText() += "\r\n";
    AppendF(t.MessageText(), " DIP = %02x", 16 * Nib(f, 4) + Nib(f, 5));
    t.Push();
}

void DecodeBitReply(DecoderTarget& t, const uint8_t* f) {
    t.Pull();
    PaneLog& m = t.MessageText();
    m.clear();
    for (int p = 4; p <= 83; ++p) m += At(f, p) == '1' ? '1' : '0';
    t.Push();
}

void DecodeRamTestReply(DecoderTarget& t, const uint8_t* f) {
    t.Pull();
    t.MessageText().clear();
    t.MessageText() += At(f, 4) == '1' ? "RAM Error" : "RAM OK";
    t.Push();
}

void DecodeSeepromReply(DecoderTarget& t, const uint8_t* f) {
    struct Block {
        int start;
        int min, max, len1, len2;
    };
    static constexpr Block kBlocks[] = {{4, 1085, 1086, 1095, 1096}, {13, 1113, 1114, 1115, 1116}};
    t.Pull();
    for (const Block& b : kBlocks) {
        std::string min, max, len1, len2;
        for (int i = 0; i < 3; ++i) min += HexDisplay(At(f, b.start + i));
        for (int i = 3; i < 6; ++i) max += HexDisplay(At(f, b.start + i));
        AppendF(len1, "%d", At(f, b.start + 6));
        AppendF(len2, "%d", At(f, b.start + 7));
        t.EditMember(b.min) = min;
        t.EditMember(b.max) = max;
        t.EditMember(b.len1) = len1;
        t.EditMember(b.len2) = len2;
    }
    t.Push();
}

void DecodeAverageReply(DecoderTarget& t, const uint8_t* f) {
    t.Pull();
    const int average = 256 * Nib(f, 5) + 16 * Nib(f, 6) + Nib(f, 7);
    std::string text;
    AppendF(text, "%x", average);
    if (At(f, 4) == '0')
        t.EditMember(1082) = text;
    else if (At(f, 4) == '1')
        t.EditMember(1097) = text;
    t.Push();
}

void DecodeNotice(DecoderTarget& t, const uint8_t* f) {
    t.Pull();
    PaneLog& m = t.MessageText();
    m += "\r\n";
    for (int p = 1; p <= 4; ++p) AppendF(m, " %02x", At(f, p));
    t.Push();
}

void MarkRejectReason(DecoderTarget& t, uint8_t reason) {
    switch (reason) {
    case '0':
    case '3':
        t.CheckMember(1121) = 1;  // "Length"
        break;
    case '<':
        t.CheckMember(1119) = 1;  // "Double"
        break;
    case '=':
    case '>':
        t.CheckMember(1120) = 1;  // "Nearing"
        break;
    default:
        break;
    }
}

}  // namespace

void ErrorCodeBox(DecoderTarget& t, uint8_t code) {
    if (code < kFirstErrorCode || code >= 0x80) return;
    t.StopBox(ErrorCodeText(code), "ERROR CODE");
}

void OnFrameReceived(DecoderTarget& t, const uint8_t* f, uint16_t L) {
    switch (At(f, 3)) {
    case cmd::Purge: DecodePurgeReply(t, f); break;
    case cmd::DispenseUpper:
    case cmd::DispenseLower:
    case cmd::DispenseBoth: t.DecodeDispenseReply(L); break;
    case cmd::Status: DecodeStatusReply(t, f); break;
    case cmd::RomVersion: DecodeRomVersionReply(t, f); break;
    case cmd::Divert:
    case cmd::DivertingUpper:
    case cmd::DivertingLower: DecodeDivertReply(t, f); break;
    case cmd::BldcSpeed: DecodeMotorSpeedReply(t, f); break;
    case cmd::BillLenUpper:
    case cmd::BillLenLower: DecodeBillLengthReply(t, f); break;
    case cmd::RvdtUpper:
    case cmd::RvdtLower: DecodeRvdtReply(t, f); break;
    case cmd::ClutchUpper:
    case cmd::ClutchLower: break;
    case cmd::RvdtRange: DecodeRvdtRangeReply(t, f, L); break;
    case cmd::RvdtValue: DecodeRvdtValueReply(t, f, L); break;
    case cmd::ReadDip: DecodeDipReply(t, f); break;
    case cmd::Bit: DecodeBitReply(t, f); break;
    case cmd::RamTestResult: DecodeRamTestReply(t, f); break;
    case cmd::WriteCalibration:
    case cmd::ReadCalibration: DecodeSeepromReply(t, f); break;
    case cmd::ReadAverage: DecodeAverageReply(t, f); break;
    case cmd::Notice: DecodeNotice(t, f); break;
    default:
        t.Pull();
        t.MessageText() = "Default";
        t.Push();
        break;
    }
    if (At(f, 1) == cmd::Notice) DecodeNotice(t, f);
}

void OnFrameRaw(DecoderTarget& t, const uint8_t* raw, uint16_t n) {
    if (n > kCap) n = kCap;
    t.Pull();
    PaneLog& m = t.MessageText();
    for (uint16_t i = 0; i < n; ++i) AppendF(m, " %02x", raw[i]);
    // Bytes 1 and 2 of a shorter frame would be left over from an earlier one.
    const bool notice = n >= 3 && raw[1] == cmd::Notice;
    if (notice) MarkRejectReason(t, raw[2]);
    m += "\r\n";
    t.Push();
    if (notice) t.RejectNoticeSeen(raw[2]);
}

}  // namespace kalvor
