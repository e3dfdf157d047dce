#include "app/headless/trace_file.h"

#include <chrono>
#include <cstdio>

#include "app/headless/app_options.h"
#include "app/headless/script_runner.h"
#include "burnin/burn_in_recorder.h"
#include "console/run_events.h"
#include "protocol/frame.h"

namespace kalvor {

namespace {

int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string Code(uint8_t command) {
    char s[16];
    if (command >= 0x21 && command <= 0x7E)
        std::snprintf(s, sizeof s, "%c", command);
    else
        std::snprintf(s, sizeof s, "0x%02X", command);
    return s;
}

}  // namespace

const char* CommandName(uint8_t c) {
    switch (c) {
    case cmd::Purge: return "PURGE";
    case cmd::DispenseUpper: return "DISPENSE UPPER";
    case cmd::DispenseLower: return "DISPENSE LOWER";
    case cmd::DispenseBoth: return "DISPENSE BOTH";
    case cmd::Status: return "STATUS";
    case cmd::RomVersion: return "ROM VERSION";
    case cmd::Divert: return "DIVERT";
    case cmd::BldcSpeed: return "BLDC SPEED";
    case cmd::BillLenUpper: return "BILL LEN UPPER";
    case cmd::BillLenLower: return "BILL LEN LOWER";
    case cmd::DivertingUpper: return "DIVERTING UPPER";
    case cmd::DivertingLower: return "DIVERTING LOWER";
    case cmd::RvdtUpper: return "RVDT UPPER";
    case cmd::RvdtLower: return "RVDT LOWER";
    case cmd::ClutchUpper: return "CLUTCH UPPER";
    case cmd::ClutchLower: return "CLUTCH LOWER";
    case cmd::RvdtRange: return "RVDT RANGE";
    case cmd::RvdtValue: return "RVDT VALUE";
    case cmd::ReadDip: return "READ DIP";
    case cmd::Bit: return "BIT";
    case cmd::RamTestResult: return "RAM TEST RESULT";
    case cmd::RamTest: return "RAM TEST";
    case cmd::RejectUpper: return "REJECT UPPER";
    case cmd::RejectLower: return "REJECT LOWER";
    case cmd::WriteCalibration: return "WRITE CALIBRATION";
    case cmd::ReadCalibration: return "READ CALIBRATION";
    case cmd::ReadAverage: return "READ AVERAGE";
    case cmd::Notice: return "NOTICE";
    default: return "UNKNOWN";
    }
}

TraceFile::TraceFile(OutputFile& out) : m_out(out), m_startUs(NowUs()), m_lastUs(m_startUs) {}

void TraceFile::Header(int64_t wallUs, const std::string& portLine) {
    std::string head = "# kalvor-tp " + std::string(kProgramVersion) + " protocol trace, started " + IsoUtc(wallUs) +
                       "\n# times: ms since the start, +ms since the line before (monotonic clock)\n";
    if (!portLine.empty()) head += "# " + portLine + "\n";
    m_out.Write(head);
}

void TraceFile::Note(const std::string& text) { m_out.Write("# " + text + "\n"); }

std::string TraceFile::DescribeTx(const uint8_t* d, size_t n) const {
    if (n == 1 && d[0] == ACK) return "ACK";
    if (n == 1 && d[0] == NAK) return "NAK";
    if (n >= 6 && d[0] == EOT) {
        const bool good = Bcc(d, n - 1) == d[n - 1] && d[n - 2] == ETX;
        return "command " + Code(d[3]) + " " + CommandName(d[3]) + ", BCC " + (good ? "good" : "bad");
    }
    return {};
}

std::string TraceFile::DescribeRx(const uint8_t* d, size_t n) {
    std::string out;
    auto add = [&out](const std::string& s) {
        if (!out.empty()) out += "; ";
        out += s;
    };
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = d[i];
        if (!m_inFrame) {
            if (b == SOH) {
                m_inFrame = true;
                m_awaitBcc = false;
                m_length = 0;
                m_frame[m_length++] = b;
            } else if (b == ACK) {
                add("ACK");
            } else if (b == NAK) {
                add("NAK");
            } else {
                add("noise " + Code(b));
            }
            continue;
        }
        if (b == SOH && !m_awaitBcc) {
            add("unfinished frame of " + std::to_string(m_length) + " bytes");
            m_length = 0;
            m_frame[m_length++] = b;
            continue;
        }
        if (m_length < sizeof m_frame) m_frame[m_length++] = b;
        if (m_length == 3 && m_frame[1] == cmd::Notice && b != STX) {
            // 01 9C reason: the module's three-byte reject notice, complete as it stands.
            static const char* const kWhy[] = {"double", "length", "nearing", "other"};
            add("reject notice " + Code(b) + " (" + kWhy[static_cast<int>(RejectReasonOf(b))] + ")");
            m_inFrame = false;
            continue;
        }
        if (m_awaitBcc) {
            const bool good = Bcc(m_frame, m_length) == 0;
            std::string what = m_frame[1] == cmd::Notice ? "notice " : "answer ";
            what += Code(m_frame[3]) + " " + CommandName(m_frame[3]) + " " + std::to_string(m_length) +
                    " bytes, BCC " + (good ? "good" : "bad");
            add(what);
            m_inFrame = false;
        } else if (b == ETX) {
            m_awaitBcc = true;
        } else if (m_length >= 121) {
            add("overlong frame");
            m_inFrame = false;
        }
    }
    if (m_inFrame) add("frame continues");
    return out;
}

std::string TraceFile::Stamp(const char* tag) {
    const int64_t now = NowUs();
    char head[96];
    std::snprintf(head, sizeof head, "%lld.%03lld +%lld.%03lld %s", static_cast<long long>((now - m_startUs) / 1000),
                  static_cast<long long>((now - m_startUs) % 1000), static_cast<long long>((now - m_lastUs) / 1000),
                  static_cast<long long>((now - m_lastUs) % 1000), tag);
    m_lastUs = now;
    return head;
}

void TraceFile::Event(const char* tag, const std::string& text) {
    m_out.Write(Stamp(tag) + " " + EscapeText(text) + "\n");
}

void TraceFile::Line(bool tx, const uint8_t* data, size_t length) {
    std::string line = Stamp(tx ? "TX" : "RX");
    char hex[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", data[i]);
        line += hex;
    }
    const std::string what = tx ? DescribeTx(data, length) : DescribeRx(data, length);
    if (!what.empty()) line += " | " + what;
    m_out.Write(line + "\n");
}

}  // namespace kalvor
