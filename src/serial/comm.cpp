// CComm on Linux termios: see comm.h for the rules the channel keeps.
//
// Design: every opening is one Session, shared between the channel (UI thread) and the reader
// thread started for it. The session owns its device descriptor and its wake-up eventfd; they are
// closed by whoever drops the last reference, so a descriptor number can never be reused under a
// reader that still polls it. The reader takes the session mutex only around "is it closed? +
// non-blocking read"; ClosePort takes it to set `closed` and release the device (TIOCNXCL, flock
// LOCK_UN, DTR off, flush), then wakes the reader and forgets the session. Hand-overs to the UI
// thread carry only the raw session pointer (the reader holds the session alive while it waits in
// HandOver) and are dropped on the UI thread when their session has been closed.
#include "serial/comm.h"

#include "serial/line_settings.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace kalvor {

namespace {

std::atomic<int> g_runningReaders{0};

std::string SysError(const std::string& path, int err) { return path + ": " + std::strerror(err); }

int Ioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

int IoctlNoArg(int fd, unsigned long request) {
    int r;
    do {
        r = ::ioctl(fd, request);
    } while (r < 0 && errno == EINTR);
    return r;
}

void CloseFd(int fd) {
    if (fd >= 0) ::close(fd);  // no retry on EINTR: the descriptor is gone either way on Linux
}

// Gives the device back: clears exclusivity, drops the advisory lock, drops DTR (pseudo-terminals
// refuse modem-line ioctls: ignored), discards both queues. Every failure is ignored.
void ReleaseDevice(int fd) {
    IoctlNoArg(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    int dtr = TIOCM_DTR;
    Ioctl(fd, TIOCMBIC, &dtr);
    ::tcflush(fd, TCIOFLUSH);
}

}  // namespace

struct CComm::Session {
    CComm* comm = nullptr;   // dereferenced only on the UI thread, and only while !closed
    RxSink* sink = nullptr;  // fixed for the opening
    int fd = -1;             // the device, owned by the session
    int wakeFd = -1;         // eventfd that ClosePort signals
    std::mutex mu;
    bool closed = false;     // guarded by mu; written only on the UI thread
    uint16_t rxLength = 0;   // valid bytes in rx (1..80) during a hand-over
    uint8_t rx[kRxBurst] = {};
    // Prebuilt hand-over work (captures only `this`, so copies never allocate).
    std::function<void()> deliver;
    std::function<void()> lost;

    Session() {
        deliver = [this] { DeliverOnUi(); };
        lost = [this] { LostOnUi(); };
    }
    ~Session() {
        CloseFd(fd);
        CloseFd(wakeFd);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool IsClosed() {
        std::lock_guard<std::mutex> lock(mu);
        return closed;
    }

    enum class Drain { kData, kEmpty, kClosed, kLost };
    Drain DrainQueue();
    void Run();
    void DeliverOnUi();
    void LostOnUi();
};

// Reader thread: read and hand over everything queued, chunk by chunk. The read is non-blocking
// and asks for a whole burst: it returns what is queued (EAGAIN when nothing is), so no separate
// look at the queue's length is needed on the way from the device to the hand-over.
CComm::Session::Drain CComm::Session::DrainQueue() {
    bool any = false;
    for (;;) {
        ssize_t got;
        int err = 0;
        {
            std::lock_guard<std::mutex> lock(mu);
            if (closed) return Drain::kClosed;
            do {
                got = ::read(fd, rx, kRxBurst);
            } while (got < 0 && errno == EINTR);
            if (got < 0) err = errno;
        }
        if (got < 0) {
            if (err == EAGAIN || err == EWOULDBLOCK) return any ? Drain::kData : Drain::kEmpty;
            return Drain::kLost;  // hung up (EIO) or worse
        }
        if (got == 0) return any ? Drain::kData : Drain::kEmpty;  // a hang-up shows in poll's events
        any = true;
        rxLength = static_cast<uint16_t>(got);
        if (sink != nullptr) sink->HandOver(deliver);  // blocks until the UI thread ran it
    }
}

void CComm::Session::Run() {
    bool deviceLost = false;
    int idleWakes = 0;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            deviceLost = true;
            break;
        }
        if (fds[1].revents != 0) break;  // ClosePort woke us
        const short ev = fds[0].revents;
        bool gotData = false;
        if (ev & POLLIN) {
            const Drain d = DrainQueue();
            if (d == Drain::kClosed) break;
            if (d == Drain::kLost) {
                deviceLost = true;
                break;
            }
            gotData = (d == Drain::kData);
        }
        if (ev & (POLLHUP | POLLERR | POLLNVAL)) {
            deviceLost = true;
            break;
        }
        if (gotData) {
            idleWakes = 0;
        } else if (++idleWakes > 1) {
            // Readable but nothing queued, twice in a row: never spin on such a device. Wait a
            // little (still waking at once for ClosePort) before polling again.
            pollfd wake = {wakeFd, POLLIN, 0};
            if (::poll(&wake, 1, 10) > 0) break;
        }
    }
    if (deviceLost && sink != nullptr && !IsClosed()) sink->HandOver(lost);
}

// UI thread: pass one chunk on, unless this opening has been closed meanwhile.
void CComm::Session::DeliverOnUi() {
    if (IsClosed()) return;
    CComm* c = comm;
    if (c->m_trace) {
        c->m_trace(false, rx, rxLength);
        if (IsClosed()) return;  // the trace closed the channel
    }
    if (c->m_owner != nullptr) c->m_owner->OnCommRxChar(rx, rxLength);
}

// UI thread: the device went away; close the channel and tell the owner, once.
void CComm::Session::LostOnUi() {
    if (IsClosed()) return;
    CComm* c = comm;
    CommOwner* owner = c->m_owner;
    c->ClosePort();
    if (owner != nullptr) owner->OnCommLost();
}

// ---------------------------------------------------------------------------------------------

std::string ResolveComPath(int port, const std::function<std::string(const std::string&)>& profileLookup,
                           ComSource* from) {
    ComSource ignored;
    ComSource& source = from != nullptr ? *from : ignored;
    const std::string key = "COM" + std::to_string(port);
    const std::string envName = "KALVOR_" + key;
    source = ComSource::Environment;
    if (const char* env = std::getenv(envName.c_str()); env != nullptr && *env != '\0') return env;
    source = ComSource::Profile;
    if (profileLookup) {
        std::string fromProfile = profileLookup(key);
        if (!fromProfile.empty()) return fromProfile;
    }
    source = ComSource::Default;
    return "/dev/ttyS" + std::to_string(port - 1);
}

CComm::CComm() = default;

CComm::~CComm() {
    if (m_bConnected) ClosePort();
}

void CComm::SetOwner(CommOwner* owner, RxSink* sink) {
    m_owner = owner;
    m_sink = sink;
}

void CComm::SetPortResolver(std::function<std::string(int)> resolver) { m_resolver = std::move(resolver); }

void CComm::SetTrace(std::function<void(bool tx, const uint8_t* data, size_t length)> trace) {
    m_trace = std::move(trace);
}

int CComm::InitEvents() {
    // Nothing to create: readiness comes from poll() and each opening's own eventfd.
    m_eventsReady = true;
    return 1;
}

std::string CComm::ResolvePort(int port) const {
    return m_resolver ? m_resolver(port) : ResolveComPath(port, nullptr);
}

int CComm::RunningReaders() { return g_runningReaders.load(); }

int CComm::OpenPort(uint16_t port, uint16_t baudRate, uint8_t byteSize, uint8_t stopBits, uint8_t parity) {
    if (port > kMaxPort) return 0;  // before any system call; nothing changes
    if (m_bConnected) ClosePort();   // callers close first; be safe anyway

    std::snprintf(m_szPort, sizeof m_szPort, "COM%d", static_cast<int>(port));
    m_devicePath = ResolvePort(port);
    m_lastError.clear();
    m_lastErrno = 0;

    const int fd = ::open(m_devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_lastErrno = errno;
        m_lastError = SysError(m_devicePath, m_lastErrno);
        return 0;
    }
    // TIOCEXCL does not stop root; the advisory lock does. Take it first, so that a refused second
    // opener never touches the exclusivity of the first.
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        m_lastErrno = (errno == EWOULDBLOCK) ? EBUSY : errno;
        m_lastError = SysError(m_devicePath, m_lastErrno);
        CloseFd(fd);
        return 0;
    }
    if (IoctlNoArg(fd, TIOCEXCL) < 0) {
        m_lastErrno = errno;
        m_lastError = (m_lastErrno == ENOTTY) ? m_devicePath + ": not a terminal device"
                                              : SysError(m_devicePath, m_lastErrno);
        ::flock(fd, LOCK_UN);
        CloseFd(fd);
        return 0;
    }
    auto fail = [&](int err, const std::string& what) {
        m_lastErrno = err;
        m_lastError = what;
        IoctlNoArg(fd, TIOCNXCL);
        ::flock(fd, LOCK_UN);
        CloseFd(fd);
        return 0;
    };

    if (!SetupPort(fd, baudRate, byteSize, stopBits, parity)) {
        return fail(m_lastErrno != 0 ? m_lastErrno : EINVAL,
                    m_lastError.empty() ? m_devicePath + ": line settings refused" : m_lastError);
    }
    ::tcflush(fd, TCIOFLUSH);

    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        const int err = errno;
        return fail(err, SysError(m_devicePath, err));
    }

    auto session = std::make_shared<Session>();
    session->comm = this;
    session->sink = m_sink;
    session->fd = fd;
    session->wakeFd = wakeFd;

    g_runningReaders.fetch_add(1);
    try {
        std::thread([s = session]() mutable {
            s->Run();
            s.reset();  // the last owner closes the descriptors
            g_runningReaders.fetch_sub(1);
        }).detach();
    } catch (const std::system_error& e) {
        g_runningReaders.fetch_sub(1);
        session->fd = -1;        // fail() closes it
        session->wakeFd = -1;
        CloseFd(wakeFd);
        return fail(EAGAIN, m_devicePath + ": cannot start the reader thread (" + e.what() + ")");
    }
    m_session = std::move(session);
    m_bConnected = 1;
    return 1;
}

int CComm::SetupPort(int fd, uint16_t baudRate, uint8_t byteSize, uint8_t stopBits, uint8_t parity) {
    using namespace serial_detail;
    auto refuse = [this](int err, std::string why) {
        m_lastErrno = err;
        m_lastError = m_devicePath + ": " + why;
        return 0;
    };
    termios current{};
    if (::tcgetattr(fd, &current) < 0) {
        const int err = errno;
        return refuse(err, err == ENOTTY ? "not a terminal device" : std::strerror(err));
    }
    termios want = current;
    std::string why;
    if (!MakeLineSettings(want, baudRate, byteSize, stopBits, parity, &why)) return refuse(EINVAL, why);

    int r;
    do {
        r = ::tcsetattr(fd, TCSANOW, &want);
    } while (r < 0 && errno == EINTR);
    const int setErr = (r < 0) ? errno : 0;
    // A pseudo-terminal keeps neither PARENB nor CSIZE (the kernel forces CS8, no parity), and
    // glibc turns that into EINVAL when nothing else changed. Accept that on a pty, as long as
    // everything else took effect; on a real port, a dropped setting means the driver refused it.
    const bool pty = IsPseudoTerminal(fd);
    if (r < 0 && !(pty && setErr == EINVAL)) return refuse(setErr, std::strerror(setErr));
    termios got{};
    if (::tcgetattr(fd, &got) < 0) {
        const int err = errno;
        return refuse(err, std::strerror(err));
    }
    if (!SettingsTookEffect(want, got, pty ? kPtyIgnoredCflags : 0))
        return refuse(EINVAL, "line settings refused by the driver");

    int lines = TIOCM_DTR | TIOCM_RTS;
    Ioctl(fd, TIOCMBIS, &lines);  // pseudo-terminals refuse modem-line ioctls: not an error
    return 1;
}

int CComm::ClosePort() {
    m_bConnected = 0;
    std::shared_ptr<Session> s = std::move(m_session);
    if (!s) return 1;
    {
        std::lock_guard<std::mutex> lock(s->mu);
        s->closed = true;
        ReleaseDevice(s->fd);
    }
    const uint64_t one = 1;
    ssize_t w;
    do {
        w = ::write(s->wakeFd, &one, sizeof one);
    } while (w < 0 && errno == EINTR);
    // `s` goes out of scope: if the reader already ended, this closes the descriptors now;
    // otherwise the reader closes them when it ends (at once, or after its pending hand-over).
    return 1;
}

size_t CComm::UnreadBytes() const {
    if (!m_bConnected || !m_session) return 0;
    int n = 0;
    if (::ioctl(m_session->fd, FIONREAD, &n) != 0 || n < 0) return 0;
    return static_cast<size_t>(n);
}

int CComm::WriteComm(const uint8_t* data, uint32_t length) {
    if (!m_bConnected || !m_session) return 0;
    if (length == 0) return 1;
    if (data == nullptr) return 0;
    const int fd = m_session->fd;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(100);
    size_t done = 0;
    bool failed = false;
    while (done < length) {
        const ssize_t w = ::write(fd, data + done, length - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                failed = true;
                break;
            }
            pollfd p = {fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, static_cast<int>(left));
            if (r < 0 && errno != EINTR) {
                failed = true;
                break;
            }
            if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                failed = true;
                break;
            }
            continue;
        }
        failed = true;  // w == 0 or a real error
        break;
    }
    if (done > 0 && m_trace) m_trace(true, data, done);
    return (!failed && done == length) ? 1 : 0;
}

}  // namespace kalvor
