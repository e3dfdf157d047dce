// The test host: the console on a virtual clock, with a recording channel and recorded boxes.
// Nothing here sleeps or starts a thread: Advance() moves the clock and fires the timers that
// fall due, in order, and posted messages run after the handler that posted them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "console/console_dlg.h"

namespace kalvor::test {

using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

struct Write {
    int64_t atMs;
    Bytes bytes;
};
struct Box {
    std::string text, caption;
    BoxIcon icon;
    int64_t atMs;
};

class FakeChannel final : public Channel {
public:
    void SetOwner(CommOwner* owner, RxSink*) override { m_owner = owner; }
    void SetPortResolver(std::function<std::string(int)> r) override { m_resolver = std::move(r); }
    void SetTrace(std::function<void(bool, const uint8_t*, size_t)>) override {}
    int InitEvents() override { return initEventsResult; }
    int OpenPort(uint16_t port, uint16_t baud, uint8_t byteSize, uint8_t stopBits, uint8_t parity) override;
    int ClosePort() override {
        ++closes;
        connected = false;
        return 1;
    }
    int WriteComm(const uint8_t* data, uint32_t length) override {
        writes.push_back({clock ? clock() : 0, Bytes(data, data + length)});
        return connected ? 1 : 0;
    }
    bool IsConnected() const override { return connected; }
    const std::string& DevicePath() const override { return path; }
    const std::string& LastError() const override { return error; }
    int LastErrno() const override { return 0; }
    std::string ResolvePort(int port) const override { return m_resolver ? m_resolver(port) : ""; }

    // Set by the test.
    int initEventsResult = 1;
    std::vector<int> failingPorts;  // OpenPort fails for these
    std::function<int64_t()> clock;

    // Recorded.
    bool connected = false;
    std::string path, error;
    struct Open {
        uint16_t port, baud;
        uint8_t byteSize, stopBits, parity;
    };
    std::vector<Open> opens;
    int closes = 0;
    std::vector<Write> writes;

private:
    CommOwner* m_owner = nullptr;
    std::function<std::string(int)> m_resolver;
};

class MemoryProfile final : public Profile {
public:
    std::string GetString(const std::string& section, const std::string& key, const std::string& fallback = "") override {
        auto it = values.find(section + "/" + key);
        return it == values.end() ? fallback : it->second;
    }
    bool WriteString(const std::string& section, const std::string& key, const std::string& value) override {
        values[section + "/" + key] = value;
        ++writes;
        return true;
    }
    std::map<std::string, std::string> values;  // "SECTION/KEY"
    int writes = 0;
};

class TestHost final : public DialogHost, public RxSink {
public:
    void Attach(CConsoleDlg* dlg) { m_dlg = dlg; }

    void SetTimer(int id, unsigned ms) override { timers[id] = now + ms; }
    void KillTimer(int id) override { timers.erase(id); }
    int64_t MonotonicMs() override { return now; }
    int64_t WallClockUs() override { return wallBaseUs + now * 1000; }
    LocalTime LocalNow() override;
    void MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override {
        boxes.push_back({text, caption, icon, now});
        if (onBox) onBox(boxes.back());
    }
    void PostMessage(unsigned message, uintptr_t wParam) override { posted.emplace_back(message, wParam); }
    RxSink& Sink() override { return *this; }
    void EndDialog(int) override { ended = true; }
    void HandOver(std::function<void()> work) override { work(); }

    // Moves the clock forward, firing due timers in order (and the posted messages after each).
    void Advance(int64_t ms);
    // Delivers bytes as the channel would: chunks of at most `chunk` bytes. A delivery made while
    // a chunk is being handled (from a box opened by it) waits until that handling has returned,
    // as the reader thread waits in its hand-over.
    void Deliver(const Bytes& bytes, size_t chunk = 80);
    void RunPosted();
    bool TimerArmed(int id) const { return timers.count(id) != 0; }
    int64_t TimerDue(int id) const { auto it = timers.find(id); return it == timers.end() ? -1 : it->second; }

    int64_t now = 0;
    int64_t localBaseSeconds = 10 * 3600;  // local time of day at now == 0
    int64_t wallBaseUs = 1796601600000000;  // 2026-12-07T00:00:00Z at now == 0
    std::map<int, int64_t> timers;
    std::deque<std::pair<unsigned, uintptr_t>> posted;
    std::vector<Box> boxes;
    std::function<void(const Box&)> onBox;  // runs while the box is "open"
    bool ended = false;

private:
    CConsoleDlg* m_dlg = nullptr;
    bool m_inChunk = false;
    std::deque<Bytes> m_heldChunks;
};

// A console started on the test host, its port opened from the profile.
struct TestConsole {
    explicit TestConsole(ConsoleOptions options = {}, const std::string& profilePort = "",
                         bool init = true);
    TestHost host;
    MemoryProfile profile;
    FakeChannel* channel;  // owned by dlg
    std::unique_ptr<CConsoleDlg> dlg;

    ControlTable& controls() { return dlg->Controls(); }
    // Operator actions, as the hosts do them.
    void Click(int id);
    void Type(int id, const std::string& text) { controls().UserSetText(id, text); }
    void Tab(int page);
    // Several, in the headless script's words and separated by ';': "tab N", "click ID",
    // "set ID TEXT" (the rest of the action, which may be empty), "wait MS", and "ack" for the
    // module's ACK. Blank actions are skipped; anything else throws std::invalid_argument.
    void Do(const std::string& actions);
    // Bytes of every write since the last call, each write as one entry.
    std::vector<Bytes> TakeWrites();
    std::string Message() { return controls().Text(1003); }
    std::string Status() { return controls().Text(1004); }

    // For compact checks.
    std::vector<Write> CommandWrites() const;  // the writes without the one-byte ACK/NAK replies
    Strings Frames() const;                    // Hex() of each of those
    Strings TimedWrites() const;               // every write as "ms: hex"
    Strings Boxes() const;                     // "caption|text", with "|!" for the exclamation icon
    std::string Checks(std::initializer_list<int> ids);   // "0110": the check state of each id
    std::string Enabled(std::initializer_list<int> ids);  // "0110": whether each id is enabled
    Strings Texts(std::initializer_list<int> ids);
    const Link& link() const { return dlg->GetLink(); }
    void Receive(uint8_t command, const Bytes& data, uint8_t id = 'P');  // a good response frame
};

// Frames for tests.
Bytes Frame(std::initializer_list<uint8_t> body);  // SOH + body + ETX + BCC
Bytes ResponseFrame(uint8_t command, const Bytes& data, uint8_t id = 'P');
std::string Hex(const Bytes& b);
std::string LowerHex(const Bytes& b);  // " %02x" of every byte, as the panes show raw bytes
Bytes Concat(std::initializer_list<Bytes> parts);

}  // namespace kalvor::test
