// What the script runner needs of a host: time that passes while the console is served. The
// headless host spends real time; the test host moves its virtual clock, so a script's waits cost
// nothing there.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kalvor {

class ScriptHost {
public:
    virtual ~ScriptHost() = default;
    // Serve timers, hand-overs and posted messages for `ms` milliseconds.
    virtual void RunFor(int64_t ms) = 0;
    // Serve until `done` is true or `limitMs` milliseconds have passed; returns done's last value.
    virtual bool RunUntil(const std::function<bool()>& done, int64_t limitMs) = 0;
    // Serve whatever is due now, without waiting.
    virtual void Pump() = 0;
    // The dialog has ended (EXIT).
    virtual bool Ended() const = 0;
    // The session is being ended by a signal (its number), 0 otherwise: waits return at once.
    virtual int Interrupted() const { return 0; }
    // How long a lost port is waited for during a burn, in seconds (--port-wait); -1 or 0: not at all.
    virtual int PortWaitS() const { return -1; }
    // A script line about to be carried out (comments stripped), for the trace.
    virtual void NoteAction(const std::string& /*line*/) {}
};

}  // namespace kalvor
