// fuzz_parsers: the texts the operator types (any length, any bytes) through the calibration
// parser ("Set" on "Set Environmant", both models, and the four "Notes Init" types) and the
// request parser ("DISPENSE" on "MENU" with the request and repeat boxes). Each written frame is
// checked against the frame the typed texts call for: at most 30 bytes, 25 for "Set", and nothing
// at all when a text is refused. An accepted run is then answered cycle by cycle and its counts
// are checked.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "harness.h"
#include "protocol/frame.h"
#include "protocol/link.h"

using kalvor::fuzz::Reader;
using kalvor::fuzz::ReadText;
using kalvor::test::Bytes;
using kalvor::test::TestConsole;
namespace k = kalvor;

namespace {

enum Flags : uint8_t { kZeda2000 = 1, kUpper = 2, kLower = 4, kAnswerRun = 8 };

struct Texts {
    // "Set Environmant"
    std::string average1, plus1, minus1, len1a, len1b, average2, plus2, minus2, len2a, len2b;
    // "MENU"
    std::string upper, lower, repeat;
};

int Low(char c) { return static_cast<unsigned char>(c) & 0x0F; }

int HexValue(char c) {
    if (c >= '1' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

k::ConsoleOptions Options(bool zeda2000) {
    k::ConsoleOptions o;
    o.calibrationTabs = true;
    o.simulatedModel = zeda2000 ? 1 : -1;
    return o;
}

void Nibbles(Bytes& f, int v) {
    f.push_back(static_cast<uint8_t>(0x30 + ((v >> 8) & 0x0F)));
    f.push_back(static_cast<uint8_t>(0x30 + ((v >> 4) & 0x0F)));
    f.push_back(static_cast<uint8_t>(0x30 + (v & 0x0F)));
}

void Close(Bytes& f) {
    f.push_back(k::ETX);
    f.push_back(k::Bcc(f.data(), f.size()));
}

std::string Hex3(int v) {
    char text[16];
    std::snprintf(text, sizeof text, "%3x", static_cast<unsigned>(v));
    return text;
}

void CheckFrameShape(const Bytes& w, size_t limit) {
    const std::string hex = kalvor::test::Hex(w);
    FUZZ_CHECK(w.size() >= 6 && w.size() <= limit, "frame length " + std::to_string(w.size()) + ": " + hex);
    FUZZ_CHECK(w[0] == k::EOT && w[1] == k::FRAME_ID && w[2] == k::STX, "frame head: " + hex);
    FUZZ_CHECK(w[w.size() - 2] == k::ETX, "frame without ETX: " + hex);
    FUZZ_CHECK(k::Bcc(w.data(), w.size()) == 0, "frame with a wrong BCC: " + hex);
}

// "Set" on "Set Environmant", then the two requests, then the four "Notes Init" types.
void CalibrationPages(const Texts& t, bool zeda2000) {
    TestConsole c(Options(zeda2000));
    c.Tab(4);
    const std::pair<int, const std::string*> edits[] = {
        {1082, &t.average1}, {1083, &t.plus1}, {1084, &t.minus1}, {1095, &t.len1a}, {1096, &t.len1b},
        {1097, &t.average2}, {1110, &t.plus2}, {1111, &t.minus2}, {1115, &t.len2a}, {1116, &t.len2b}};
    for (const auto& [id, text] : edits) {
        FUZZ_CHECK(c.controls().IsVisible(id) && c.controls().IsEnabled(id), "calibration edit not usable");
        c.Type(id, *text);
    }
    c.TakeWrites();
    c.Click(1098);
    const std::vector<Bytes> writes = c.TakeWrites();

    // What the texts call for.
    auto margin = [](const std::string& s, int& v) {
        if (s.empty() || s.size() > 2) return false;
        v = s.size() == 1 ? Low(s[0]) : 10 * Low(s[0]) + Low(s[1]);
        return v <= 99;  // above 99 ("??") limit 2 would be negative
    };
    auto averageOf = [](const std::string& s) {
        return s.size() == 3 ? 256 * HexValue(s[0]) + 16 * HexValue(s[1]) + HexValue(s[2]) : 0;
    };
    int plus1 = 0, minus1 = 0, plus2 = 0, minus2 = 0;
    bool ok = t.average1.size() == 3 && (!zeda2000 || t.average2.size() == 3);
    const int average = averageOf(t.average1);
    const int average2 = averageOf(t.average2);
    bool lengths = t.len1a.size() == 2 && t.len1b.size() == 2;
    if (zeda2000) lengths = lengths && t.len2a.size() == 2 && t.len2b.size() == 2;
    bool margins = margin(t.plus1, plus1) && margin(t.minus1, minus1);
    if (zeda2000 && margins) margins = margin(t.plus2, plus2) && margin(t.minus2, minus2);
    ok = ok && lengths && margins;

    if (!ok) {
        FUZZ_CHECK(writes.empty(), "a calibration record written from texts that were refused");
    } else {
        FUZZ_CHECK(writes.size() == 1, "one calibration record written");
        const Bytes& w = writes[0];
        CheckFrameShape(w, 25);
        const int limit2 = (100 - minus1) * average / 100;
        const int limit1 = std::min((plus1 + 100) * average / 100, 0x7F0);
        Bytes want = {k::EOT, k::FRAME_ID, k::STX, k::cmd::WriteCalibration, 0x15};
        Nibbles(want, limit1);
        Nibbles(want, limit2);
        want.push_back(static_cast<uint8_t>(10 * Low(t.len1a[0]) + Low(t.len1a[1])));
        want.push_back(static_cast<uint8_t>(10 * Low(t.len1b[0]) + Low(t.len1b[1])));
        want.push_back(0);
        if (zeda2000) {
            // The second block in the first block's layout, from its own average.
            Nibbles(want, std::min((plus2 + 100) * average2 / 100, 0x7F0));
            Nibbles(want, (100 - minus2) * average2 / 100);
            want.push_back(static_cast<uint8_t>(10 * Low(t.len2a[0]) + Low(t.len2a[1])));
            want.push_back(static_cast<uint8_t>(10 * Low(t.len2b[0]) + Low(t.len2b[1])));
            want.push_back(0);
        } else {
            want.insert(want.end(), 9, 0x30);
        }
        Close(want);
        FUZZ_CHECK(w == want, "calibration record " + kalvor::test::Hex(w) + ", wanted " + kalvor::test::Hex(want));
        FUZZ_CHECK(c.controls().Text(1085) == Hex3(limit1), "RVDT MIN shown as '" + c.controls().Text(1085) + "'");
        FUZZ_CHECK(c.controls().Text(1086) == Hex3(limit2), "RVDT MAX shown as '" + c.controls().Text(1086) + "'");
    }

    // The two requests are sent whatever the link is doing.
    c.Click(1099);
    c.Click(1100);
    auto requests = c.TakeWrites();
    FUZZ_CHECK(requests.size() == 2, "two requests");
    for (const Bytes& w : requests) CheckFrameShape(w, 6);
    FUZZ_CHECK(requests[0][3] == k::cmd::ReadCalibration && requests[1][3] == k::cmd::ReadAverage, "request commands");

    c.Tab(5);
    for (int id : {1098, 1099, 1100, 1112}) {
        c.Click(id);
        for (const Bytes& w : c.TakeWrites()) {
            CheckFrameShape(w, 25);
            FUZZ_CHECK(w[3] == k::cmd::WriteCalibration && w[4] == 0x15, "notes init record");
            FUZZ_CHECK(w.size() == (zeda2000 ? 25u : 23u), "notes init record length");
        }
    }
}

// "DISPENSE" on "MENU" with the typed request and repeat texts.
void DispensePage(const Texts& t, uint8_t flags) {
    const bool zeda2000 = flags & kZeda2000;
    TestConsole c(Options(zeda2000));
    c.Tab(1);
    // "LOWER" and its request box are usable with the ZEDA2000 only.
    const bool lower = zeda2000 && (flags & kLower);
    if (flags & kUpper) c.Click(1026);
    if (lower) c.Click(1027);
    c.Type(1028, t.upper);
    if (zeda2000) c.Type(1029, t.lower);
    c.Type(1030, t.repeat);
    c.TakeWrites();
    c.host.boxes.clear();
    c.Click(1020);
    const std::vector<Bytes> writes = c.TakeWrites();

    const int cassette = ((flags & kUpper) ? 1 : 0) | (lower ? 2 : 0);
    const std::string lowerText = zeda2000 ? t.lower : "0";
    auto digits = [](const std::string& s, uint8_t d[2]) {
        if (s.size() > 2) return false;
        d[0] = static_cast<uint8_t>(s.size() == 2 ? s[0] : '0');
        d[1] = static_cast<uint8_t>(s.size() == 2 ? s[1] : (s.size() == 1 ? s[0] : '0'));
        return true;
    };
    uint8_t up[2] = {'0', '0'}, low[2] = {'0', '0'};
    bool ok = cassette != 0;
    if ((cassette & 1) && !digits(t.upper, up)) ok = false;
    if (ok && (cassette & 2) && !digits(lowerText, low)) ok = false;
    auto value = [](const uint8_t d[2]) { return (d[0] & 0x0F) * 10 + (d[1] & 0x0F); };
    if (ok && (cassette & 1) && value(up) > 60) ok = false;
    if (ok && (cassette & 2) && value(low) > 60) ok = false;
    const bool repeatOk = !t.repeat.empty() && t.repeat.size() <= 3;

    if (!ok || !repeatOk) {
        FUZZ_CHECK(writes.empty(), "a dispense frame written from a refused request");
        FUZZ_CHECK(c.host.boxes.size() == 1, "one box for a refused request");
        FUZZ_CHECK(c.host.boxes[0].text == (ok ? "Repeat Count Error" : "Request Condition Error"),
                   "box '" + c.host.boxes[0].text + "'");
        return;
    }
    FUZZ_CHECK(writes.size() == 1, "one dispense frame");
    Bytes want = {k::EOT, k::FRAME_ID, k::STX};
    if (cassette == 1) want.insert(want.end(), {k::cmd::DispenseUpper, up[0], up[1]});
    if (cassette == 2) want.insert(want.end(), {k::cmd::DispenseLower, low[0], low[1]});
    if (cassette == 3) want.insert(want.end(), {k::cmd::DispenseBoth, up[0], up[1], low[0], low[1]});
    Close(want);
    CheckFrameShape(writes[0], 30);
    FUZZ_CHECK(writes[0] == want, "dispense frame " + kalvor::test::Hex(writes[0]) + ", wanted " + kalvor::test::Hex(want));

    // Answer every cycle with success: the run makes max(1, repeat) cycles.
    unsigned repeat = 0;
    for (char ch : t.repeat) repeat = repeat * 10 + Low(ch);
    repeat &= 0xFFFF;
    if (!(flags & kAnswerRun) || repeat > 12) return;
    const unsigned cycles = std::max(1u, repeat);
    const uint8_t command = want[3];
    Bytes data;
    if (cassette == 3)
        data = {up[0], up[1], up[0], up[1], low[0], low[1], low[0], low[1], '1', '0', '0', '0', '0', '0', '0'};
    else
        data = {want[4], want[5], want[4], want[5], '1', '0', '0', '0'};
    // A module never puts SOH or ETX among its data bytes; typed digits may be such bytes.
    for (uint8_t b : data)
        if (b == k::SOH || b == k::ETX) return;
    const Bytes answer = kalvor::test::ResponseFrame(command, data);
    unsigned written = 1;
    for (unsigned i = 0; i < cycles; ++i) {
        c.host.Deliver({k::ACK});
        c.host.Deliver(answer);
        c.host.Advance(k::kRepeatPauseMs);
        for (const Bytes& w : c.TakeWrites()) {
            if (w.size() == 1) continue;
            FUZZ_CHECK(w == want, "a further cycle wrote " + kalvor::test::Hex(w));
            ++written;
        }
    }
    c.host.Advance(10 * k::kRepeatPauseMs);
    for (const Bytes& w : c.TakeWrites()) FUZZ_CHECK(w.size() == 1, "a cycle after the last: " + kalvor::test::Hex(w));
    FUZZ_CHECK(written == cycles, "cycles written " + std::to_string(written) + ", wanted " + std::to_string(cycles));
    FUZZ_CHECK(c.controls().Text(1032) == std::to_string(cycles), "executed count '" + c.controls().Text(1032) + "'");
    const unsigned perCycle = cassette == 3 ? value(up) + value(low) : value(cassette == 1 ? up : low);
    FUZZ_CHECK(c.controls().Text(1031) == std::to_string((perCycle * cycles) & 0xFFFF),
               "total dispense count '" + c.controls().Text(1031) + "'");
    FUZZ_CHECK(c.dlg->IsIdle() && !c.dlg->RunActive(), "the run has ended");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t flags = in.U8();
    Texts t;
    for (std::string* s : {&t.average1, &t.plus1, &t.minus1, &t.len1a, &t.len1b, &t.average2, &t.plus2, &t.minus2,
                           &t.len2a, &t.len2b, &t.upper, &t.lower, &t.repeat})
        *s = ReadText(in);
    CalibrationPages(t, flags & kZeda2000);
    DispensePage(t, flags);
    return 0;
}
