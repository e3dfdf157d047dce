// CComm: the console's serial channel on Linux termios, with one reader thread per opening.
//
// The UI thread calls InitEvents, OpenPort, ClosePort, WriteComm and the destructor. The reader
// thread waits on the device and on a wake-up descriptor, reads at most 80 bytes at a time and
// hands each chunk to the UI thread through the owner's RxSink, synchronously: it returns only
// after the receive handler has returned. ClosePort never waits for a reader parked in such a
// hand-over; the hand-over of a closed opening is dropped on the UI thread, and a reader never
// reads from, or waits on, a device of a later opening.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/channel.h"

namespace kalvor {

// How the reader reaches the UI thread. Implemented by the host (Qt, headless, tests).
class RxSink {
public:
    virtual ~RxSink() = default;
    // Called on a reader thread: run `work` on the UI thread and return once it has returned.
    // A host that is shutting down may return without running it.
    virtual void HandOver(std::function<void()> work) = 0;
};

// What the channel tells its owner, always on the UI thread.
class CommOwner {
public:
    virtual ~CommOwner() = default;
    // One received chunk (1..80 bytes), valid until the call returns.
    virtual void OnCommRxChar(const uint8_t* data, uint16_t length) = 0;
    // The device went away (hang-up, error, failed read). The channel is already closed.
    virtual void OnCommLost() = 0;
};

// DCB-style codes, as the console passes them.
enum : uint8_t { kParityNone = 0, kParityOdd = 1, kParityEven = 2, kParityMark = 3, kParitySpace = 4 };
enum : uint8_t { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

class CComm final : public Channel {
public:
    static constexpr uint16_t kMaxPort = 4;
    static constexpr uint32_t kRxBurst = 80;

    CComm();
    ~CComm();
    CComm(const CComm&) = delete;
    CComm& operator=(const CComm&) = delete;

    // Where chunks go and how they get to the UI thread (the old m_hOwnerWnd).
    void SetOwner(CommOwner* owner, RxSink* sink) override;
    // Maps a port number to a device path (COMn resolution). Default: env KALVOR_COMn, else
    // /dev/ttyS<n-1>.
    void SetPortResolver(std::function<std::string(int)> resolver) override;
    // Called on the UI thread for every write (tx = true) and every chunk delivered (tx = false).
    void SetTrace(std::function<void(bool tx, const uint8_t* data, size_t length)> trace) override;

    int InitEvents() override;
    int OpenPort(uint16_t port, uint16_t baudRate, uint8_t byteSize, uint8_t stopBits, uint8_t parity) override;
    int ClosePort() override;
    int WriteComm(const uint8_t* data, uint32_t length) override;

    bool IsConnected() const override { return m_bConnected != 0; }
    const char* PortName() const { return m_szPort; }
    // Device path of the last OpenPort and the system's reason when it failed ("" on success).
    const std::string& DevicePath() const override { return m_devicePath; }
    const std::string& LastError() const override { return m_lastError; }
    // errno of the last failed open (0 if none), so the owner can add a hint (EACCES: dialout).
    int LastErrno() const override { return m_lastErrno; }
    // The device path that port n resolves to, for tooltips.
    std::string ResolvePort(int port) const override;
    size_t UnreadBytes() const override;
    // Number of reader threads still running (tests and benchmarks).
    static int RunningReaders();

    struct Session;  // one opening: descriptor, wake-up pipe, reader state

private:
    int SetupPort(int fd, uint16_t baudRate, uint8_t byteSize, uint8_t stopBits, uint8_t parity);

    char m_szPort[20] = {};
    int m_bConnected = 0;
    std::string m_devicePath;
    std::string m_lastError;
    int m_lastErrno = 0;
    bool m_eventsReady = false;
    CommOwner* m_owner = nullptr;
    RxSink* m_sink = nullptr;
    std::function<std::string(int)> m_resolver;
    std::function<void(bool, const uint8_t*, size_t)> m_trace;
    std::shared_ptr<Session> m_session;
};

// Where a COMn resolution came from.
enum class ComSource : uint8_t { Environment, Profile, Default };

// Default COMn resolution: environment variable KALVOR_COMn, then `profileLookup("COMn")` when
// given and non-empty, then /dev/ttyS<n-1>. `from`, when given, receives which of them it was.
std::string ResolveComPath(int port, const std::function<std::string(const std::string&)>& profileLookup,
                           ComSource* from = nullptr);

}  // namespace kalvor
