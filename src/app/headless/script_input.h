// The script on standard input, read by a thread of its own so that the console is served while
// the script waits for its next line: a slowly fed pipe or a person typing at a terminal never
// holds up the link, and times in the records stay the module's. Each line is handed over to the
// UI thread through the host (which wakes at once); the UI thread takes lines with Next().
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <string>
#include <thread>

#include "app/headless/script_check.h"

namespace kalvor {

class RxSink;
class ScriptHost;

class ScriptInput {
public:
    // Reads `fd` from now on; lines are handed over through `sink`.
    ScriptInput(int fd, RxSink& sink);
    // Stops the reader. Call it after the host has shut down (a hand-over in progress is then
    // released at once).
    ~ScriptInput();
    ScriptInput(const ScriptInput&) = delete;
    ScriptInput& operator=(const ScriptInput&) = delete;

    // On the UI thread: serves the console through `host` until a line has come, the input has
    // ended or the session is ending. False at the end of the input (or when the session ends).
    bool Next(ScriptHost& host, ScriptLineSplitter::Line& line);

private:
    void Read();

    int m_fd;
    RxSink& m_sink;
    int m_stopFd = -1;
    // Touched on the UI thread only (in hand-overs and in Next).
    std::deque<ScriptLineSplitter::Line> m_lines;
    bool m_ended = false;
    std::atomic<size_t> m_queued{0};  // lines handed over and not yet taken
    std::thread m_thread;
};

}  // namespace kalvor
