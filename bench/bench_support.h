// Small pieces shared by the benchmarks: a channel that writes nowhere, a host on a virtual clock
// that never allocates once running, a profile that remembers nothing, response frames, resident
// memory and percentiles.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "console/console_dlg.h"
#include "protocol/frame.h"

namespace kalvor::bench {

using Bytes = std::vector<uint8_t>;

// A port that is always open and swallows every write (counting them).
class NullChannel final : public Channel {
public:
    void SetOwner(CommOwner*, RxSink*) override {}
    void SetPortResolver(std::function<std::string(int)>) override {}
    void SetTrace(std::function<void(bool, const uint8_t*, size_t)>) override {}
    int InitEvents() override { return 1; }
    int OpenPort(uint16_t, uint16_t, uint8_t, uint8_t, uint8_t) override {
        m_open = true;
        return 1;
    }
    int ClosePort() override {
        m_open = false;
        return 1;
    }
    int WriteComm(const uint8_t* data, uint32_t length) override {
        ++writes;
        bytesWritten += length;
        if (length > 0) lastByte = data[length - 1];
        return 1;
    }
    bool IsConnected() const override { return m_open; }
    const std::string& DevicePath() const override { return m_path; }
    const std::string& LastError() const override { return m_path; }
    int LastErrno() const override { return 0; }
    std::string ResolvePort(int) const override { return {}; }

    uint64_t writes = 0;
    uint64_t bytesWritten = 0;
    uint8_t lastByte = 0;

private:
    bool m_open = false;
    std::string m_path;
};

class NullProfile final : public Profile {
public:
    std::string GetString(const std::string&, const std::string&, const std::string& fallback = "") override {
        return fallback;
    }
    bool WriteString(const std::string&, const std::string&, const std::string&) override { return true; }
};

// Timers in a fixed array, posted messages in a fixed ring, boxes counted: nothing here
// allocates, so an allocation counted while the console runs on it is the console's own.
class BenchHost final : public DialogHost, public RxSink {
public:
    void Attach(CConsoleDlg* dlg) { m_dlg = dlg; }
    void SetTimer(int id, unsigned ms) override {
        if (id >= 0 && id < kTimers) due[id] = now + ms;
    }
    void KillTimer(int id) override {
        if (id >= 0 && id < kTimers) due[id] = -1;
    }
    int64_t MonotonicMs() override { return now; }
    LocalTime LocalNow() override { return {10, 0, 0}; }
    void MessageBox(const std::string&, const std::string&, BoxIcon) override { ++boxes; }
    void PostMessage(unsigned message, uintptr_t wParam) override {
        if (m_count < m_ring.size()) m_ring[(m_head + m_count++) % m_ring.size()] = {message, wParam};
    }
    RxSink& Sink() override { return *this; }
    void EndDialog(int) override {}
    void HandOver(std::function<void()> work) override { work(); }

    void RunPosted() {
        while (m_count > 0 && m_dlg) {
            const auto [message, wParam] = m_ring[m_head];
            m_head = (m_head + 1) % m_ring.size();
            --m_count;
            m_dlg->OnPosted(message, wParam);
        }
    }
    // One chunk, as the channel hands it over, then the posted messages.
    void Deliver(const uint8_t* bytes, uint16_t length) {
        m_dlg->OnCommRxChar(bytes, length);
        RunPosted();
    }
    // Moves the clock, firing due timers in order.
    void Advance(int64_t ms) {
        const int64_t end = now + ms;
        for (;;) {
            int next = -1;
            for (int id = 0; id < kTimers; ++id)
                if (due[id] >= 0 && due[id] <= end && (next < 0 || due[id] < due[next])) next = id;
            if (next < 0) break;
            now = due[next];
            due[next] = -1;
            m_dlg->OnTimer(next);
            RunPosted();
        }
        now = end;
    }

    static constexpr int kTimers = 8;
    int64_t now = 0;
    int64_t due[kTimers] = {-1, -1, -1, -1, -1, -1, -1, -1};
    uint64_t boxes = 0;

private:
    CConsoleDlg* m_dlg = nullptr;
    std::array<std::pair<unsigned, uintptr_t>, 16> m_ring{};
    size_t m_head = 0;
    size_t m_count = 0;
};

// SOH id STX command data ETX BCC.
inline Bytes Response(uint8_t command, const Bytes& data, uint8_t id = FRAME_ID) {
    Bytes f;
    f.reserve(data.size() + 6);
    for (uint8_t b : {SOH, id, STX, command}) f.push_back(b);
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(ETX);
    f.push_back(Bcc(f.data(), f.size()));
    return f;
}

// Resident memory of this process (or of `pid`) in KiB, from /proc.
inline long ResidentKiB(int pid = 0) {
    std::ifstream in(pid > 0 ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// The p-th percentile (0..100) by the nearest-rank method; the values are sorted in place.
inline double Percentile(std::vector<double>& v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t rank = static_cast<size_t>(p / 100.0 * static_cast<double>(v.size()) + 0.999999);
    rank = std::clamp<size_t>(rank, 1, v.size());
    return v[rank - 1];
}

}  // namespace kalvor::bench
