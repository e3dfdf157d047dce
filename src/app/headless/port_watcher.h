// Reconnect: when the console's open port is lost (a USB adapter pulled out), watch its device
// path — a by-id name, a symbolic link or any path — for its return, and have the console open
// it again on the UI thread. Ours, not the dialog's: it listens to the run events and calls the
// dialog's one reopening entry through the host's hand-over.
//
// One thread, asleep while the port is open. While a path is watched it waits on inotify (the
// deepest folder of the path that exists, so that a by-id folder that comes back with its
// adapter is seen too) and at most half a second; a reopening is tried at most twice a second,
// so a device that comes back but cannot be opened yet is never spun on.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "console/run_events.h"
#include "serial/comm.h"

namespace kalvor {

class PortWatcher final : public RunObserver {
public:
    // `reopen(port)` runs on the UI thread through `sink` and returns whether the port is open
    // again (CConsoleDlg::ReopenLostPort).
    PortWatcher(RxSink& sink, std::function<bool(int port)> reopen);
    // Stops the thread. Call Stop() after the host has shut down its hand-overs (a hand-over in
    // progress would otherwise wait for the UI thread that is stopping us).
    ~PortWatcher() override;
    PortWatcher(const PortWatcher&) = delete;
    PortWatcher& operator=(const PortWatcher&) = delete;
    void Stop();

    void OnPortLost(const RunTime&, int port, const std::string& device) override;
    void OnPortOpened(const RunTime&, int port, const std::string& device) override;

    // The path being watched ("" when none), for tests.
    std::string Watching();

private:
    void Run();
    void Wake();

    RxSink& m_sink;
    std::function<bool(int)> m_reopen;
    std::mutex m_mutex;
    std::string m_path;  // guarded: the lost device, "" while nothing is lost
    int m_port = 0;
    unsigned m_generation = 0;  // a new loss or an opening makes an older reopening void
    bool m_stop = false;
    int m_wakeFd = -1;
    int m_inotifyFd = -1;
    std::thread m_thread;
};

}  // namespace kalvor
