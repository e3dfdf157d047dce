#include "support/script_test_host.h"

#include "zeda_module.h"

namespace kalvor::test {

void ScriptTestHost::AnswerNewWrites() {
    std::vector<Write>& writes = m_console.channel->writes;
    for (; m_writesSeen < writes.size(); ++m_writesSeen) {
        const Bytes& w = writes[m_writesSeen].bytes;
        // ACK and NAK of the console, and anything not a command frame, ask nothing of the module.
        if (!m_module || w.size() < 6 || w[0] != 0x04) continue;
        const int64_t ackAt = m_console.host.now + kAckDelayMs;
        const auto reply = m_module->Execute(w[3], zeda::Bytes(w.begin() + 4, w.end() - 2));
        if (!reply) {
            m_arrivals.emplace(ackAt, Bytes{0x15});
            continue;
        }
        m_arrivals.emplace(ackAt, Bytes{0x06});
        for (const zeda::Notice& n : reply->notices)
            m_arrivals.emplace(ackAt + n.atMs, Bytes(n.bytes.begin(), n.bytes.end()));
        m_arrivals.emplace(ackAt + reply->workMs, Bytes(reply->frame.begin(), reply->frame.end()));
    }
}

bool ScriptTestHost::Step(int64_t end) {
    TestHost& host = m_console.host;
    AnswerNewWrites();
    int64_t next = end + 1;
    for (const auto& [id, due] : host.timers)
        if (due < next) next = due;
    if (!m_arrivals.empty() && m_arrivals.begin()->first < next) next = m_arrivals.begin()->first;
    if (next > end) {
        if (end > host.now) host.Advance(end - host.now);
        return false;
    }
    host.Advance(next > host.now ? next - host.now : 0);  // fires the timers due by then
    while (!m_arrivals.empty() && m_arrivals.begin()->first <= host.now) {
        const Bytes bytes = std::move(m_arrivals.begin()->second);
        m_arrivals.erase(m_arrivals.begin());
        host.Deliver(bytes);
    }
    host.RunPosted();
    AnswerNewWrites();
    return true;
}

void ScriptTestHost::RunFor(int64_t ms) {
    const int64_t end = m_console.host.now + ms;
    while (!Ended() && Step(end)) {
    }
    if (m_console.host.now < end) m_console.host.now = end;
}

bool ScriptTestHost::RunUntil(const std::function<bool()>& done, int64_t limitMs) {
    const int64_t end = m_console.host.now + limitMs;
    Pump();
    while (!Ended()) {
        if (done()) return true;
        if (!Step(end)) return done();
    }
    return done();
}

void ScriptTestHost::Pump() {
    m_console.host.RunPosted();
    AnswerNewWrites();
}

}  // namespace kalvor::test
