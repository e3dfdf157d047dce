// An output file of a session (results, trace) written with plain system calls, so that every
// failed write is seen with the system's reason. The first failure is told once, through the
// handler; later writes are dropped, and the session goes on.
//
// Opening is two steps, so that a session whose options turn out bad leaves every file as it
// was: Prepare() opens without emptying and without ever blocking (a FIFO or a device is refused
// with a reason), Begin() empties the file (unless appending) once every file is known good.
#pragma once

#include <sys/types.h>

#include <functional>
#include <streambuf>
#include <string>

namespace kalvor {

// Whether `path` may be taken as an output or the profile: a regular file, one that does not
// exist yet, or /dev/null and /dev/stdout as they are. Empty when it may, else the reason.
std::string OutputKindProblem(const std::string& path, mode_t mode);

class OutputFile {
public:
    using FailureHandler = std::function<void(const std::string& path, const std::string& reason)>;

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The first step: opens (creating it when missing) without emptying it. False, with the
    // reason, when it cannot be opened for writing or is not a file to write a record into.
    bool Prepare(const std::string& path, bool append, std::string& reason);
    // The second step: empties the file unless appending. False, with the system's reason.
    bool Begin(std::string& reason);
    // Both steps at once.
    bool Open(const std::string& path, bool append, std::string& reason);
    // Gives a prepared file up: closed, and removed when Prepare() created it.
    void Abandon();
    // Takes a descriptor that is already open (standard output); it is never closed here.
    void Adopt(int fd, const std::string& name);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    // Whether the file held nothing when it was begun (a CSV header is written only then).
    bool StartedEmpty() const { return m_startedEmpty; }
    // The file's identity (device and inode), for telling two names of one file apart.
    bool SameFileAs(dev_t dev, ino_t ino) const { return m_fd >= 0 && m_dev == dev && m_ino == ino; }
    dev_t Device() const { return m_dev; }
    ino_t Inode() const { return m_ino; }
    bool Regular() const { return m_regular; }

    // Writes all of `data`. False when it or an earlier write failed.
    bool Write(const std::string& data);
    void SetFailureHandler(FailureHandler handler) { m_onFailure = std::move(handler); }

    bool Failed() const { return !m_reason.empty(); }
    const std::string& FailureReason() const { return m_reason; }
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    bool m_owned = true;
    bool m_created = false;
    bool m_append = false;
    bool m_stdout = false;  // named /dev/stdout
    bool m_regular = false;
    bool m_startedEmpty = true;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    std::string m_path;
    std::string m_reason;
    FailureHandler m_onFailure;
};

// A stream buffer over an OutputFile (standard output headless): what is written waits for a
// flush (std::endl) and then goes out in one checked write. A failure is the file's to tell;
// the stream itself never fails, so the session goes on.
class OutputFileBuf final : public std::streambuf {
public:
    explicit OutputFileBuf(OutputFile& file) : m_file(file) {}
    ~OutputFileBuf() override { sync(); }

protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) m_pending += traits_type::to_char_type(c);
        if (m_pending.size() >= 1 << 16) sync();
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        m_pending.append(s, static_cast<size_t>(n));
        if (m_pending.size() >= 1 << 16) sync();
        return n;
    }
    int sync() override {
        if (!m_pending.empty()) m_file.Write(m_pending);
        m_pending.clear();
        return 0;
    }

private:
    OutputFile& m_file;
    std::string m_pending;
};

}  // namespace kalvor
