// An output file of a session (results, trace) written with plain system calls, so that every
// failed write is seen with the system's reason. The first failure is told once, through the
// handler; later writes are dropped, and the session goes on.
#pragma once

#include <functional>
#include <string>

namespace kalvor {

class OutputFile {
public:
    using FailureHandler = std::function<void(const std::string& path, const std::string& reason)>;

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates (or appends to) the file. False, with the system's reason, when it
    // cannot be opened for writing.
    bool Open(const std::string& path, bool append, std::string& reason);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // Writes all of `data`. False when it or an earlier write failed.
    bool Write(const std::string& data);
    void SetFailureHandler(FailureHandler handler) { m_onFailure = std::move(handler); }

    bool Failed() const { return !m_reason.empty(); }
    const std::string& FailureReason() const { return m_reason; }
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
    std::string m_reason;
    FailureHandler m_onFailure;
};

}  // namespace kalvor
