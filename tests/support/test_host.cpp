#include "support/test_host.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "protocol/frame.h"

namespace kalvor::test {

int FakeChannel::OpenPort(uint16_t port, uint16_t baud, uint8_t byteSize, uint8_t stopBits, uint8_t parity) {
    opens.push_back({port, baud, byteSize, stopBits, parity});
    path = ResolvePort(port);
    if (port > 4) return 0;
    for (int p : failingPorts)
        if (p == port) {
            error = path + ": No such file or directory";
            return 0;
        }
    error.clear();
    connected = true;
    return 1;
}

LocalTime TestHost::LocalNow() {
    const int64_t s = (localBaseSeconds + now / 1000) % 86400;
    return {static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60), static_cast<int>(s % 60)};
}

void TestHost::RunPosted() {
    while (!posted.empty() && m_dlg) {
        auto [message, wParam] = posted.front();
        posted.pop_front();
        m_dlg->OnPosted(message, wParam);
    }
}

void TestHost::Advance(int64_t ms) {
    const int64_t end = now + ms;
    for (;;) {
        int id = -1;
        int64_t due = end + 1;
        for (auto& [timer, at] : timers)
            if (at <= end && at < due) {
                id = timer;
                due = at;
            }
        if (id < 0) break;
        now = due;
        timers.erase(id);
        if (m_dlg) m_dlg->OnTimer(id);
        RunPosted();
    }
    now = end;
}

void TestHost::Deliver(const Bytes& bytes, size_t chunk) {
    if (chunk == 0 || chunk > 80) chunk = 80;
    for (size_t i = 0; i < bytes.size(); i += chunk)
        m_heldChunks.emplace_back(bytes.begin() + i, bytes.begin() + std::min(bytes.size(), i + chunk));
    if (m_inChunk) return;  // the reader waits in its hand-over
    while (!m_heldChunks.empty()) {
        Bytes c = std::move(m_heldChunks.front());
        m_heldChunks.pop_front();
        m_inChunk = true;
        if (m_dlg) m_dlg->OnCommRxChar(c.data(), static_cast<uint16_t>(c.size()));
        m_inChunk = false;
        RunPosted();
    }
}

TestConsole::TestConsole(ConsoleOptions options, const std::string& profilePort, bool init) {
    auto fake = std::make_unique<FakeChannel>();
    channel = fake.get();
    channel->clock = [this] { return host.now; };
    if (!profilePort.empty()) profile.values["KALVOR/PORT"] = profilePort;
    dlg = std::make_unique<CConsoleDlg>(host, profile, std::move(fake), options);
    host.Attach(dlg.get());
    if (init) {
        dlg->OnInitDialog();
        host.RunPosted();
    }
}

void TestConsole::Click(int id) {
    const Control* c = controls().Find(id);
    if (c && (c->kind == ControlKind::CheckBox || c->kind == ControlKind::Radio)) controls().UserClick(id);
    dlg->OnCommand(id);
    host.RunPosted();
}

void TestConsole::Do(const std::string& actions) {
    std::istringstream in(actions);
    for (std::string action; std::getline(in, action, ';');) {
        std::istringstream words(action);
        std::string verb, text;
        int value = 0;
        words >> verb >> value;
        if (verb == "tab") Tab(value);
        else if (verb == "click") Click(value);
        else if (verb == "wait") host.Advance(value);
        else if (verb == "ack") host.Deliver({ACK});
        else if (verb == "set" && words) Type(value, std::getline(words.ignore(1), text) ? text : "");
        else if (!verb.empty()) throw std::invalid_argument("unknown action: " + action);
    }
}

void TestConsole::Tab(int page) {
    if (page == controls().TabSelection()) return;
    controls().SetTabSelection(page);
    dlg->OnSelChangeTab();
}

std::vector<Bytes> TestConsole::TakeWrites() {
    std::vector<Bytes> out;
    for (auto& w : channel->writes) out.push_back(w.bytes);
    channel->writes.clear();
    return out;
}

std::vector<Write> TestConsole::CommandWrites() const {
    std::vector<Write> out;
    for (const Write& w : channel->writes)
        if (w.bytes.size() > 1) out.push_back(w);
    return out;
}

Strings TestConsole::Frames() const {
    Strings out;
    for (const Write& w : CommandWrites()) out.push_back(Hex(w.bytes));
    return out;
}

Strings TestConsole::TimedWrites() const {
    Strings out;
    for (const Write& w : channel->writes) out.push_back(std::to_string(w.atMs) + ": " + Hex(w.bytes));
    return out;
}

Strings TestConsole::Boxes() const {
    Strings out;
    for (const Box& b : host.boxes) out.push_back(b.caption + "|" + b.text + (b.icon == BoxIcon::Stop ? "" : "|!"));
    return out;
}

std::string TestConsole::Checks(std::initializer_list<int> ids) {
    std::string s;
    for (int id : ids) s += std::to_string(controls().Checked(id));
    return s;
}

std::string TestConsole::Enabled(std::initializer_list<int> ids) {
    std::string s;
    for (int id : ids) s += controls().IsEnabled(id) ? '1' : '0';
    return s;
}

Strings TestConsole::Texts(std::initializer_list<int> ids) {
    Strings out;
    for (int id : ids) out.push_back(controls().Text(id));
    return out;
}

void TestConsole::Receive(uint8_t command, const Bytes& data, uint8_t id) {
    host.Deliver(ResponseFrame(command, data, id));
}

Bytes Frame(std::initializer_list<uint8_t> body) {
    Bytes f;
    f.reserve(body.size() + 3);
    f.push_back(SOH);
    for (uint8_t b : body) f.push_back(b);
    f.push_back(ETX);
    f.push_back(Bcc(f.data(), f.size()));
    return f;
}

Bytes ResponseFrame(uint8_t command, const Bytes& data, uint8_t id) {
    Bytes f;
    f.reserve(data.size() + 6);
    for (uint8_t b : {SOH, id, STX, command}) f.push_back(b);
    for (uint8_t b : data) f.push_back(b);
    f.push_back(ETX);
    f.push_back(Bcc(f.data(), f.size()));
    return f;
}

static std::string HexWith(const Bytes& b, const char* format) {
    std::string s;
    char h[4];
    for (uint8_t x : b) {
        std::snprintf(h, sizeof h, format, x);
        s += h;
    }
    return s;
}

std::string Hex(const Bytes& b) { return b.empty() ? "" : HexWith(b, " %02X").substr(1); }

std::string LowerHex(const Bytes& b) { return HexWith(b, " %02x"); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace kalvor::test
