#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "protocol/frame.h"
#include "protocol/link.h"
#include "zeda_module.h"

namespace kalvor::fuzz {

namespace {

constexpr uint64_t kMaxOperations = 4000;  // bounds one input's run, whatever its length

bool IsClickable(ControlKind k) {
    return k == ControlKind::Button || k == ControlKind::CheckBox || k == ControlKind::Radio;
}

// The command bytes the console can write, and how many data bytes each carries.
int DataLength(uint8_t command) {
    switch (command) {
    case cmd::DispenseUpper:
    case cmd::DispenseLower: return 2;
    case cmd::DispenseBoth: return 4;
    case cmd::WriteCalibration: return 19;  // 0x15 and the 18-byte record (17 bytes: "Notes Init", ZEDA1000)
    case cmd::Purge:
    case cmd::Status:
    case cmd::RomVersion:
    case cmd::Divert:
    case cmd::BldcSpeed:
    case cmd::BillLenUpper:
    case cmd::BillLenLower:
    case cmd::DivertingUpper:
    case cmd::DivertingLower:
    case cmd::RvdtUpper:
    case cmd::RvdtLower:
    case cmd::ClutchUpper:
    case cmd::ClutchLower:
    case cmd::RvdtRange:
    case cmd::RvdtValue:
    case cmd::ReadDip:
    case cmd::RejectUpper:
    case cmd::RejectLower:
    case cmd::ReadCalibration:
    case cmd::ReadAverage: return 0;
    default: return -1;
    }
}

int DigitPair(uint8_t tens, uint8_t units) { return (tens & 0x0F) * 10 + (units & 0x0F); }

}  // namespace

void Fail(const char* file, int line, const std::string& what) {
    std::fprintf(stderr, "\n*** invariant broken at %s:%d: %s\n", file, line, what.c_str());
    std::fflush(stderr);
    std::abort();
}

test::Bytes Reader::Take(size_t n) {
    const size_t k = n < Left() ? n : Left();
    test::Bytes b(m_data + m_pos, m_data + m_pos + k);
    m_pos += k;
    return b;
}

std::string ReadText(Reader& in) {
    const uint8_t length = in.U8();
    if (length < 200) {
        const test::Bytes b = in.Take(length);
        return std::string(b.begin(), b.end());
    }
    const char fill = static_cast<char>(in.U8());
    return std::string(static_cast<size_t>(length - 199) * 1024, fill);
}

int64_t AdvanceMs(uint16_t t) { return t <= 40000 ? t : 40000 + (static_cast<int64_t>(t) - 40000) * 8; }

ConsoleHarness::ConsoleHarness(uint8_t flags) : m_trace(std::getenv("KALVOR_FUZZ_TRACE") != nullptr) {
    ConsoleOptions options;
    options.calibrationTabs = (flags & kNoCalibrationTabs) == 0;
    options.simulatedModel = (flags & kStartZeda2000) ? 1 : -1;
    m_console = std::make_unique<test::TestConsole>(options, (flags & kRememberedPort2) ? "2" : "", false);
    test::TestConsole& c = *m_console;
    if (flags & kNoEvents) c.channel->initEventsResult = 0;
    if (flags & kPort1Fails) c.channel->failingPorts.push_back(1);
    c.dlg->Events().Add(&m_tally);
    if (flags & kRecordResults) {
        m_recorder = std::make_unique<BurnInRecorder>();
        std::string why;
        if (!m_recorder->Open("/dev/null", why)) std::abort();
        m_recorder->SetSummarySink([this](const std::string& line) { m_console->dlg->AppendMessage(line); });
        c.dlg->Events().Add(m_recorder.get());
    }
    c.host.onBox = [this](const test::Box&) {
        if (m_boxBytes.empty()) return;
        const test::Bytes b = std::move(m_boxBytes);
        m_boxBytes.clear();
        // While a box opened by a timer is up, received bytes are still handled; a box opened
        // by a received chunk holds them back (the test host does both).
        m_console->host.Deliver(b, 80);
    };
    c.dlg->OnInitDialog();
    c.host.RunPosted();

    zeda::SimOptions sim;
    sim.model = (flags & kStartZeda2000) ? 2000 : 1000;
    sim.lowerPresent = sim.model == 2000;
    sim.rejectRate = 0.1;
    sim.seed = flags;
    m_module = std::make_unique<zeda::Module>(sim);
    Check();
}

ConsoleHarness::~ConsoleHarness() = default;

int ConsoleHarness::IndexOf(int id) const {
    const auto& all = m_console->controls().All();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].id == id) return static_cast<int>(i);
    return -1;
}

void ConsoleHarness::Deliver(const test::Bytes& bytes, size_t chunk) {
    if (bytes.empty()) return;
    m_console->host.Deliver(bytes, chunk);
}

void ConsoleHarness::Click(int index) {
    test::TestConsole& c = *m_console;
    const auto& all = c.controls().All();
    const Control& control = all[static_cast<size_t>(index) % all.size()];
    if (!IsClickable(control.kind) || !control.visible || !control.enabled) return;
    c.Click(control.id);
}

void ConsoleHarness::Answer(uint8_t flags) {
    // The module's part: ACK (unless asked not to), its notices and its answer to the command
    // written last, or NAK for a command it does not know.
    if (m_lastCommand.size() < 6) return;
    test::Bytes out;
    if ((flags & 1) == 0) out.push_back(ACK);
    const uint8_t command = m_lastCommand[3];
    const zeda::Bytes data(m_lastCommand.begin() + 4, m_lastCommand.end() - 2);
    const auto reply = m_module->Execute(command, data);
    if (!reply) {
        Deliver({NAK}, 1);
        return;
    }
    for (const zeda::Notice& n : reply->notices) out.insert(out.end(), n.bytes.begin(), n.bytes.end());
    out.insert(out.end(), reply->frame.begin(), reply->frame.end());
    Deliver(out, (flags >> 1) % 80 + 1);
}

bool ConsoleHarness::Step(Reader& in) {
    if (in.Empty() || m_operations >= kMaxOperations) return false;
    ++m_operations;
    test::TestConsole& c = *m_console;
    const uint8_t op = in.U8() % kOpCount;
    switch (op) {
    case kOpDeliver: {
        const size_t n = in.U8() + 1u;
        const size_t chunk = in.U8() % 80 + 1u;
        Deliver(in.Take(n), chunk);
        break;
    }
    case kOpAdvance: c.host.Advance(AdvanceMs(in.U16())); break;
    case kOpClick: Click(in.U8()); break;
    case kOpType: {
        const auto& all = c.controls().All();
        const Control& control = all[in.U8() % all.size()];
        const std::string text = ReadText(in);
        if (control.kind == ControlKind::Edit && control.visible && control.enabled) c.Type(control.id, text);
        break;
    }
    case kOpTab: {
        const size_t tabs = c.controls().Tabs().size();
        if (tabs > 0) c.Tab(static_cast<int>(in.U8() % tabs));
        break;
    }
    case kOpModel: {
        const int id = (in.U8() & 1) ? 1135 : 1134;
        c.Tab(1);
        const Control* radio = c.controls().Find(id);
        if (radio && radio->visible && radio->enabled) c.Click(id);
        break;
    }
    case kOpFrame: {
        const uint8_t idChoice = in.U8();
        uint8_t id = 'P';
        if (idChoice % 4 == 2) id = cmd::Notice;
        if (idChoice % 4 == 3) id = in.U8();
        const uint8_t command = in.U8();
        const size_t n = in.U8() % 118u;
        test::Bytes frame = {SOH, id, STX, command};
        const test::Bytes data = in.Take(n);
        frame.insert(frame.end(), data.begin(), data.end());
        frame.push_back(ETX);
        frame.push_back(Bcc(frame.data(), frame.size()));
        Deliver(frame, in.U8() % 80 + 1u);
        break;
    }
    case kOpBoxBytes: m_boxBytes = in.Take(in.U8() + 1u); break;
    case kOpNextTimer: {
        int64_t due = -1;
        for (const auto& [id, at] : c.host.timers)
            if (due < 0 || at < due) due = at;
        if (due >= 0) c.host.Advance(due - c.host.now);
        break;
    }
    case kOpAnswer: Answer(in.U8()); break;
    default: break;
    }
    c.host.RunPosted();
    if (m_trace) {
        static const char* const kNames[kOpCount] = {"deliver", "advance", "click", "type", "tab",
                                                     "model", "frame", "box-bytes", "next-timer", "answer"};
        Trace(kNames[op]);
    }
    Check();
    return true;
}

void ConsoleHarness::Trace(const char* op) {
    test::TestConsole& c = *m_console;
    const Link& link = c.dlg->GetLink();
    std::string timers;
    for (const auto& [id, at] : c.host.timers) timers += " T" + std::to_string(id) + "@" + std::to_string(at);
    std::string writes;
    for (size_t i = m_writesChecked; i < c.channel->writes.size(); ++i) writes += " [" + test::Hex(c.channel->writes[i].bytes) + "]";
    std::string boxes;
    for (const test::Box& b : c.host.boxes) boxes += " {" + b.caption + ": " + b.text + "}";
    std::fprintf(stderr, "%8lld %-10s page %d state %d busy %d rx %u run %d%s%s%s\n",
                 static_cast<long long>(c.host.now), op, c.dlg->CurrentPage(), static_cast<int>(link.state), link.busy,
                 link.rxLength, c.dlg->RunActive() ? 1 : 0, timers.c_str(), writes.c_str(), boxes.c_str());
}

void ConsoleHarness::CheckWrites() {
    auto& writes = m_console->channel->writes;
    for (size_t i = m_writesChecked; i < writes.size(); ++i) {
        const test::Bytes& w = writes[i].bytes;
        const std::string hex = test::Hex(w);
        FUZZ_CHECK(!w.empty(), "an empty write");
        if (w.size() == 1) {
            FUZZ_CHECK(w[0] == ACK || w[0] == NAK, "a one-byte write that is neither ACK nor NAK: " + hex);
            continue;
        }
        // A command frame: EOT 'P' STX command data ETX BCC, at most 30 bytes, a good BCC.
        FUZZ_CHECK(w.size() >= 6 && w.size() <= StoredFrame::kCapacity, "command frame length: " + hex);
        FUZZ_CHECK(w[0] == EOT && w[1] == FRAME_ID && w[2] == STX, "command frame head: " + hex);
        FUZZ_CHECK(w[w.size() - 2] == ETX, "command frame without ETX before its BCC: " + hex);
        FUZZ_CHECK(Bcc(w.data(), w.size()) == 0, "command frame with a wrong BCC: " + hex);
        const uint8_t command = w[3];
        const int data = DataLength(command);
        FUZZ_CHECK(data >= 0, "a command the console does not have: " + hex);
        const bool shortRecord = command == cmd::WriteCalibration && w.size() == 17 + 6;
        FUZZ_CHECK(static_cast<int>(w.size()) == data + 6 || shortRecord, "data length of the command: " + hex);
        // A dispense frame only ever asks for what the request check allowed: 0-60 notes.
        if (command == cmd::DispenseUpper || command == cmd::DispenseLower || command == cmd::DispenseBoth) {
            FUZZ_CHECK(DigitPair(w[4], w[5]) <= 60, "dispense request above 60: " + hex);
            if (command == cmd::DispenseBoth) FUZZ_CHECK(DigitPair(w[6], w[7]) <= 60, "dispense request above 60: " + hex);
        }
        if (command == cmd::WriteCalibration) FUZZ_CHECK(w[4] == 0x15, "calibration record head: " + hex);
        m_lastCommand = w;
    }
    // Keep the record small on long inputs.
    if (writes.size() > 256) writes.clear();
    m_writesChecked = writes.size();
}

void ConsoleHarness::CheckBoxes() {
    auto& boxes = m_console->host.boxes;
    for (const test::Box& b : boxes) {
        FUZZ_CHECK(!b.text.empty(), "a box without text");
        const bool known = b.caption == "Error" || b.caption == "ERROR CODE" || b.caption == "WORNING" ||
                           b.caption == "comm Error!";
        FUZZ_CHECK(known, "a box with caption '" + b.caption + "'");
    }
    boxes.clear();
}

void ConsoleHarness::Check() {
    test::TestConsole& c = *m_console;
    const CConsoleDlg& dlg = *c.dlg;
    const Link& link = dlg.GetLink();
    auto armed = [&](int id) { return c.host.TimerArmed(id); };
    const std::string where = " (state " + std::to_string(static_cast<int>(link.state)) + ", rx " +
                              std::to_string(link.rxLength) + ", busy " + std::to_string(link.busy) + ")";

    FUZZ_CHECK(link.rxLength <= Link::kFrameCapacity, "rxLength above 121" + where);
    FUZZ_CHECK(link.rawLength <= Link::kFrameCapacity, "rawLength above 121" + where);
    FUZZ_CHECK(link.busy == 0 || link.busy == 1, "busy neither 0 nor 1" + where);
    FUZZ_CHECK(link.frame.length <= StoredFrame::kCapacity, "stored frame above 30 bytes" + where);
    const bool knownState = link.state == LinkState::Idle || link.state == LinkState::AwaitAck ||
                            link.state == LinkState::InFrame || link.state == LinkState::AwaitBcc;
    FUZZ_CHECK(knownState, "unknown link state" + where);
    for (const auto& [id, at] : c.host.timers) {
        FUZZ_CHECK(id >= TIMER_ACK && id <= TIMER_REPEAT, "unknown timer " + std::to_string(id));
        FUZZ_CHECK(at >= c.host.now, "a timer due in the past");
    }
    FUZZ_CHECK(c.host.posted.empty(), "a posted message left unhandled");

    if (!dlg.Ended()) {
        // Every state that waits for something has a timer that ends the wait: no hang.
        if (link.state == LinkState::InFrame) {
            FUZZ_CHECK(link.rxLength >= 1 && link.rxLength < Link::kFrameCapacity && link.rx[0] == SOH,
                       "frame under way without its SOH" + where);
            FUZZ_CHECK(armed(TIMER_FRAME), "frame under way without the frame timer" + where);
        }
        if (link.state == LinkState::AwaitBcc) {
            FUZZ_CHECK(link.rxLength >= 2 && link.rxLength < Link::kFrameCapacity &&
                           link.rx[link.rxLength - 1] == ETX,
                       "waiting for a BCC without room or without ETX" + where);
            FUZZ_CHECK(armed(TIMER_FRAME), "waiting for a BCC without the frame timer" + where);
        }
        if (link.state == LinkState::AwaitAck)
            FUZZ_CHECK(armed(TIMER_ACK), "waiting for an ACK without the ACK timer" + where);
        if (link.busy)
            FUZZ_CHECK(armed(TIMER_ACK) || armed(TIMER_FRAME) || armed(TIMER_RESPONSE),
                       "busy with no timer armed: the guarded buttons would stay dead" + where);
        if (dlg.RunActive())
            FUZZ_CHECK(link.busy || armed(TIMER_ACK) || armed(TIMER_FRAME) || armed(TIMER_RESPONSE) ||
                           armed(TIMER_REPEAT),
                       "a dispense run that nothing can end" + where);
    }

    const ControlTable& t = c.controls();
    const int tabs = static_cast<int>(t.Tabs().size());
    FUZZ_CHECK(tabs == 4 || tabs == 6, "tab count " + std::to_string(tabs));
    FUZZ_CHECK(t.TabSelection() >= 0 && t.TabSelection() < tabs, "tab selection out of range");
    const int page = dlg.CurrentPage();
    FUZZ_CHECK(page == t.TabSelection(), "page and tab selection differ");
    // A few controls that belong to one page only.
    FUZZ_CHECK(t.IsVisible(1050) == (page == 0), "STATUS button on page " + std::to_string(page));
    FUZZ_CHECK(t.IsVisible(1028) == (page == 1), "request box on page " + std::to_string(page));
    FUZZ_CHECK(t.IsVisible(1012) == (page == 2), "parity radio on page " + std::to_string(page));
    FUZZ_CHECK(t.IsVisible(1054) == (page == 3), "DIVERT button on page " + std::to_string(page));
    FUZZ_CHECK(t.IsVisible(1098) == (page == 4 || page == 5), "Set button on page " + std::to_string(page));
    FUZZ_CHECK(t.IsVisible(1003) && t.IsVisible(1004), "a pane hidden");
    // Radio groups: at most one set.
    for (int group = 1; group <= 6; ++group) {
        int set = 0;
        for (const Control& k : t.All())
            if (k.kind == ControlKind::Radio && k.radioGroup == group && k.checked) ++set;
        FUZZ_CHECK(set <= 1, "radio group " + std::to_string(group) + " with " + std::to_string(set) + " set");
    }

    CheckWrites();
    CheckBoxes();
}

// --- OpWriter --------------------------------------------------------------------------------

OpWriter& OpWriter::Deliver(const test::Bytes& b, size_t chunk) {
    for (size_t i = 0; i < b.size(); i += 256) {
        const size_t n = std::min<size_t>(256, b.size() - i);
        m_bytes.push_back(kOpDeliver);
        m_bytes.push_back(static_cast<uint8_t>(n - 1));
        m_bytes.push_back(static_cast<uint8_t>((chunk == 0 ? 80 : chunk) - 1));
        m_bytes.insert(m_bytes.end(), b.begin() + static_cast<long>(i), b.begin() + static_cast<long>(i + n));
    }
    return *this;
}

OpWriter& OpWriter::Advance(int64_t ms) {
    while (ms > 0) {
        int64_t step = ms;
        uint16_t t;
        if (step <= 40000) {
            t = static_cast<uint16_t>(step);
        } else {
            if (step > 40000 + 25535 * 8) step = 40000 + 25535 * 8;
            t = static_cast<uint16_t>(40000 + (step - 40000) / 8);
            step = AdvanceMs(t);
        }
        m_bytes.push_back(kOpAdvance);
        m_bytes.push_back(static_cast<uint8_t>(t & 0xFF));
        m_bytes.push_back(static_cast<uint8_t>(t >> 8));
        ms -= step;
    }
    return *this;
}

OpWriter& OpWriter::Click(int tableIndex) {
    m_bytes.push_back(kOpClick);
    m_bytes.push_back(static_cast<uint8_t>(tableIndex));
    return *this;
}

OpWriter& OpWriter::Type(int tableIndex, const std::string& text) {
    m_bytes.push_back(kOpType);
    m_bytes.push_back(static_cast<uint8_t>(tableIndex));
    if (text.size() < 200) {
        m_bytes.push_back(static_cast<uint8_t>(text.size()));
        m_bytes.insert(m_bytes.end(), text.begin(), text.end());
    } else {
        // A long text of one repeated character, in whole KiB.
        const size_t kib = std::min<size_t>(56, std::max<size_t>(1, text.size() / 1024));
        m_bytes.push_back(static_cast<uint8_t>(199 + kib));
        m_bytes.push_back(static_cast<uint8_t>(text[0]));
    }
    return *this;
}

OpWriter& OpWriter::Tab(int page) {
    m_bytes.push_back(kOpTab);
    m_bytes.push_back(static_cast<uint8_t>(page));
    return *this;
}

OpWriter& OpWriter::Model(int model) {
    m_bytes.push_back(kOpModel);
    m_bytes.push_back(static_cast<uint8_t>(model));
    return *this;
}

OpWriter& OpWriter::Frame(uint8_t id, uint8_t command, const test::Bytes& data, size_t chunk) {
    m_bytes.push_back(kOpFrame);
    if (id == 'P') {
        m_bytes.push_back(0);
    } else if (id == cmd::Notice) {
        m_bytes.push_back(2);
    } else {
        m_bytes.push_back(3);
        m_bytes.push_back(id);
    }
    m_bytes.push_back(command);
    const size_t n = std::min<size_t>(117, data.size());
    m_bytes.push_back(static_cast<uint8_t>(n));
    m_bytes.insert(m_bytes.end(), data.begin(), data.begin() + static_cast<long>(n));
    m_bytes.push_back(static_cast<uint8_t>((chunk == 0 ? 80 : chunk) - 1));
    return *this;
}

OpWriter& OpWriter::BoxBytes(const test::Bytes& b) {
    const size_t n = std::min<size_t>(256, b.size());
    if (n == 0) return *this;
    m_bytes.push_back(kOpBoxBytes);
    m_bytes.push_back(static_cast<uint8_t>(n - 1));
    m_bytes.insert(m_bytes.end(), b.begin(), b.begin() + static_cast<long>(n));
    return *this;
}

OpWriter& OpWriter::NextTimer() {
    m_bytes.push_back(kOpNextTimer);
    return *this;
}

OpWriter& OpWriter::Answer(bool withAck, size_t chunk) {
    m_bytes.push_back(kOpAnswer);
    const size_t c = (chunk == 0 ? 80 : chunk) - 1;
    m_bytes.push_back(static_cast<uint8_t>((withAck ? 0 : 1) | (c << 1)));
    return *this;
}

bool WriteFile(const std::string& path, const test::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace kalvor::fuzz
