// The script runner's host on the test host's virtual clock: a script's waits cost no real time.
// With a simulated module, every command frame the console writes is answered as the module would
// answer it: its ACK after kAckDelayMs, then its notices and its answer frame after its working
// time. Time moves from event to event (a timer falling due, bytes arriving), never past a limit.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "app/headless/script_host.h"
#include "support/test_host.h"

namespace zeda {
class Module;
}

namespace kalvor::test {

class ScriptTestHost final : public ScriptHost {
public:
    static constexpr int64_t kAckDelayMs = 2;

    explicit ScriptTestHost(TestConsole& console, zeda::Module* module = nullptr)
        : m_console(console), m_module(module), m_writesSeen(console.channel->writes.size()) {}

    void RunFor(int64_t ms) override;
    bool RunUntil(const std::function<bool()>& done, int64_t limitMs) override;
    void Pump() override;
    bool Ended() const override { return m_console.host.ended; }

private:
    // Moves the clock to the next event at or before `end` and serves it; false when there was none
    // (the clock then stands at `end`).
    bool Step(int64_t end);
    void AnswerNewWrites();

    TestConsole& m_console;
    zeda::Module* m_module;
    size_t m_writesSeen;
    std::multimap<int64_t, Bytes> m_arrivals;  // bytes the module sends, by virtual time
};

}  // namespace kalvor::test
