// Channel: what the console needs of its serial line. CComm is the real one; the unit tests use a
// recording stand-in so the console can be driven without a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kalvor {

class CommOwner;
class RxSink;

class Channel {
public:
    virtual ~Channel() = default;
    virtual void SetOwner(CommOwner* owner, RxSink* sink) = 0;
    virtual void SetPortResolver(std::function<std::string(int)> resolver) = 0;
    virtual void SetTrace(std::function<void(bool tx, const uint8_t* data, size_t length)> trace) = 0;
    virtual int InitEvents() = 0;
    virtual int OpenPort(uint16_t port, uint16_t baudRate, uint8_t byteSize, uint8_t stopBits,
                         uint8_t parity) = 0;
    virtual int ClosePort() = 0;
    virtual int WriteComm(const uint8_t* data, uint32_t length) = 0;
    virtual bool IsConnected() const = 0;
    virtual const std::string& DevicePath() const = 0;
    virtual const std::string& LastError() const = 0;
    virtual int LastErrno() const = 0;
    virtual std::string ResolvePort(int port) const = 0;
    // Bytes the device holds that the reader has not taken yet (0 when none or unknown). Called
    // on the UI thread, so a host can let bytes already on the line in before a timer fires.
    virtual size_t UnreadBytes() const { return 0; }
};

}  // namespace kalvor
