#include "burnin/burn_in_recorder.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>

namespace kalvor {

const char* const BurnInRecorder::kColumns[] = {
    "run", "cycle", "command", "upper_request", "lower_request", "dispensed", "rejected", "result_code",
    "result_text", "upper_empty", "lower_empty", "write_to_ack_ms", "ack_to_answer_ms", "ended",
    // Added after the first fourteen, which stay as they were.
    "wall_time", "write_to_answer_ms", "resends", "naks_sent", "naks_received", "upper_dispensed",
    "lower_dispensed", "upper_rejected", "lower_rejected", "notices_double", "notices_length",
    "notices_nearing", "notices_other",
    // Who is who, after those.
    "module", "port", "device", "adapter", "model", "station", "planned"};
const int BurnInRecorder::kColumnCount = sizeof kColumns / sizeof kColumns[0];

namespace {

// One field of a record: a number, a text, or nothing.
struct Field {
    enum Kind { None, Number, Text } kind = None;
    std::string value;
};
Field Num(const std::string& v) { return {Field::Number, v}; }
Field Num(int64_t v) { return {Field::Number, std::to_string(v)}; }
Field Txt(const std::string& v) { return {Field::Text, v}; }
Field Opt(int v) { return v < 0 ? Field{} : Num(v); }
Field Opt(const std::string& v) { return v.empty() ? Field{} : Txt(v); }

// A CSV field (RFC 4180): quoted when it holds a comma, a quote or a line break, which stays in
// it, so that a text reads the same as in JSON Lines.
std::string Csv(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += "\"\"";
        else q += c;
    }
    return q + "\"";
}

std::string Json(const std::string& s) {
    std::string q = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            q += '\\';
            q += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            // Texts come from the module's error table or its bytes: anything outside printable
            // ASCII is written as its code, so a line is always valid JSON.
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            q += esc;
        } else {
            q += static_cast<char>(c);
        }
    }
    return q + "\"";
}

}  // namespace

int64_t MedianOf(std::vector<int64_t> values) {
    const size_t n = values.size();
    if (n == 0) return 0;
    std::sort(values.begin(), values.end());
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool CountsAsError(CycleEnd how) {
    return how == CycleEnd::ModuleError || how == CycleEnd::NoAck || how == CycleEnd::NoAnswer ||
           how == CycleEnd::BadFrames;
}

std::string IsoUtc(int64_t wallUs) {
    const std::time_t seconds = static_cast<std::time_t>(wallUs / 1000000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[96];  // room for any int in every field, so nothing can be cut off
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(wallUs % 1000000 / 1000));
    return text;
}

std::string Milliseconds3(int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(us / 1000),
                  static_cast<long long>(us % 1000));
    return text;
}

bool BurnInRecorder::Open(const std::string& path, std::string& reason) {
    if (!Prepare(path, false, reason)) return false;
    if (Begin(reason)) return true;
    m_file.Abandon();
    return false;
}

bool BurnInRecorder::Prepare(const std::string& path, bool append, std::string& reason) {
    m_json = path.size() >= 6 && path.compare(path.size() - 6, 6, ".jsonl") == 0;
    if (!m_file.Prepare(path, append, reason)) return false;
    if (append && m_file.Regular() && !ReadAppendPoint(path, reason)) {
        m_file.Abandon();
        return false;
    }
    return true;
}

bool BurnInRecorder::ReadAppendPoint(const std::string& path, std::string& reason) {
    // Runs go on from the file's last one, so that the file stays one sequence of runs; a CSV
    // file is appended to only under our own header.
    std::ifstream in(path, std::ios::binary);
    std::string first, line, last;
    std::getline(in, first);
    if (!in && first.empty()) return true;  // empty
    std::string header;
    for (int i = 0; i < kColumnCount; ++i) header += (i ? "," : "") + std::string(kColumns[i]);
    if (!m_json && first != header) {
        reason = "it holds no results of this version (its first line is not the header), so it is not appended to";
        return false;
    }
    // The last line is looked for in the file's last 64 KiB only.
    in.clear();
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(size > 65536 ? size - 65536 : 0);
    if (size > 65536) std::getline(in, line);  // most likely a part of a line
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    const std::string key = m_json ? "{\"run\":" : "";
    if (last.compare(0, key.size(), key) != 0) return true;
    unsigned run = 0;
    for (size_t i = key.size(); i < last.size() && last[i] >= '0' && last[i] <= '9' && run < 100000000; ++i)
        run = run * 10 + static_cast<unsigned>(last[i] - '0');
    m_run = run;
    return true;
}

bool BurnInRecorder::Begin(std::string& reason) {
    if (!m_file.Begin(reason)) return false;
    if (!m_json && m_file.StartedEmpty()) {
        std::string header;
        for (int i = 0; i < kColumnCount; ++i) header += (i ? "," : "") + std::string(kColumns[i]);
        m_file.Write(header + "\n");
    }
    return true;
}

void BurnInRecorder::SetFailureHandler(std::function<void(const std::string&)> onFailure) {
    m_onFailure = std::move(onFailure);
    m_file.SetFailureHandler([this](const std::string& path, const std::string& reason) {
        if (!m_onFailure) return;
        std::string lost = m_open || m_totalCycles > 0
                               ? "the records from run " + std::to_string(m_run) + " cycle " +
                                     std::to_string(m_cycle) + " on are lost"
                               : "every record of this session is lost";
        m_onFailure("cannot write the results file " + path + ": " + reason + "; " + lost);
    });
}

void BurnInRecorder::OnRunStarted(const RunTime&, unsigned) {
    ++m_run;
    m_cycle = 0;
    m_open = false;
    m_runCycles = m_runDispensed = m_runRejected = m_runErrors = 0;
    std::fill(std::begin(m_runEnded), std::end(m_runEnded), 0u);
    m_answerTimesUs.clear();
}

void BurnInRecorder::OnCycleWritten(const RunTime& t, const CycleRequest& request) {
    ++m_cycle;
    m_open = true;
    m_request = request;
    m_writeUs = t.monoUs;
    m_wallUs = t.wallUs;
    m_ackUs = m_answerUs = -1;
    m_resends = m_naksSent = m_naksReceived = 0;
    std::fill(std::begin(m_notices), std::end(m_notices), 0u);
    const int model = m_model ? m_model() : -1;
    m_cycleModel = model == 1 ? "ZEDA2000" : model == 0 ? "ZEDA1000" : "";
    m_cyclePlanned = m_planned;
}

void BurnInRecorder::OnCycleAck(const RunTime& t) {
    if (m_open && m_ackUs < 0) m_ackUs = t.monoUs;
}

void BurnInRecorder::OnLinkEvent(const RunTime&, LinkEvent event) {
    if (!m_open) return;
    if (event == LinkEvent::Resent) ++m_resends;
    if (event == LinkEvent::NakSent) ++m_naksSent;
    if (event == LinkEvent::NakReceived) ++m_naksReceived;
}

void BurnInRecorder::OnRejectNotice(const RunTime&, RejectReason reason, uint8_t) {
    if (m_open) ++m_notices[static_cast<int>(reason)];
}

void BurnInRecorder::OnCycleAnswered(const RunTime& t, const CycleAnswer& answer) {
    if (!m_open) return;
    m_answerUs = t.monoUs;
    ++m_runCycles;
    m_runDispensed += static_cast<unsigned>(answer.dispensed);
    m_runRejected += static_cast<unsigned>(answer.rejected);
    if (answer.moduleError) ++m_runErrors;
    m_answerTimesUs.push_back(m_answerUs - m_writeUs);
    WriteRecord(answer.moduleError ? CycleEnd::ModuleError : CycleEnd::Answered, &answer);
}

void BurnInRecorder::OnCycleFailed(const RunTime&, CycleEnd how) {
    if (!m_open) return;
    ++m_runCycles;
    if (CountsAsError(how)) ++m_runErrors;
    ++m_runEnded[static_cast<int>(how) & 7];
    WriteRecord(how, nullptr);
}

void BurnInRecorder::OnRunEnded(const RunTime&, RunEnd) {
    if (m_run > 0 && m_summarySink) m_summarySink(Summary());
}

void BurnInRecorder::WriteRecord(CycleEnd how, const CycleAnswer* a) {
    m_open = false;
    ++m_totalCycles;
    auto digits = [](const char d[2]) { return d[0] ? Txt(std::string(d, 2)) : Field{}; };
    // An indicator is a number ('0', '1') as numbers are; any other byte stays a text.
    auto flag = [](char c) { return !c ? Field{} : c >= '0' && c <= '9' ? Num(c - '0') : Txt(std::string(1, c)); };
    auto span = [](int64_t from, int64_t to) { return from >= 0 && to >= 0 ? Num(Milliseconds3(to - from)) : Field{}; };
    char code[8] = "";
    if (a) std::snprintf(code, sizeof code, "%02X", a->resultCode);

    const Field fields[] = {
        Num(m_run), Num(m_cycle), Txt(std::string(1, m_request.command)), digits(m_request.upper),
        digits(m_request.lower), a ? Num(a->dispensed) : Field{}, a ? Num(a->rejected) : Field{},
        a ? Txt(code) : Field{}, a ? Txt(a->resultText) : Field{}, a ? flag(a->upperEmpty) : Field{},
        a ? flag(a->lowerEmpty) : Field{}, span(m_writeUs, m_ackUs), span(m_ackUs, m_answerUs),
        Txt(CycleEndName(how)), Txt(IsoUtc(m_wallUs)), span(m_writeUs, m_answerUs), Num(m_resends),
        Num(m_naksSent), Num(m_naksReceived), a ? Opt(a->upperDispensed) : Field{},
        a ? Opt(a->lowerDispensed) : Field{}, a ? Opt(a->upperRejected) : Field{},
        a ? Opt(a->lowerRejected) : Field{}, Num(m_notices[static_cast<int>(RejectReason::Double)]),
        Num(m_notices[static_cast<int>(RejectReason::Length)]),
        Num(m_notices[static_cast<int>(RejectReason::Nearing)]),
        Num(m_notices[static_cast<int>(RejectReason::Other)]), Opt(m_identity.module), Opt(m_identity.port),
        Opt(m_identity.device), Opt(m_identity.adapter), Opt(m_cycleModel), Opt(m_identity.station),
        m_cyclePlanned ? Num(m_cyclePlanned) : Field{}};
    static_assert(sizeof fields / sizeof fields[0] == sizeof kColumns / sizeof kColumns[0]);

    std::string line;
    if (m_json) {
        line = "{";
        for (int i = 0; i < kColumnCount; ++i) {
            if (i) line += ",";
            line += "\"" + std::string(kColumns[i]) + "\":";
            const Field& f = fields[i];
            line += f.kind == Field::None ? "null" : f.kind == Field::Number ? f.value : Json(f.value);
        }
        line += "}\n";
    } else {
        for (int i = 0; i < kColumnCount; ++i) line += (i ? "," : "") + Csv(fields[i].value);
        line += "\n";
    }
    m_file.Write(line);  // one write per record: a crash loses nothing already recorded
}

std::string BurnInRecorder::Summary() const {
    std::string line = "RUN " + std::to_string(m_run) + ": cycles " + std::to_string(m_runCycles) +
                       ", dispensed " + std::to_string(m_runDispensed) + ", rejected " +
                       std::to_string(m_runRejected) + ", errors " + std::to_string(m_runErrors);
    // Cycles that ended neither answered nor in an error are named apart.
    for (CycleEnd how : {CycleEnd::Replaced, CycleEnd::PortLost, CycleEnd::Interrupted})
        if (const unsigned n = m_runEnded[static_cast<int>(how)]) line += ", " + std::string(CycleEndName(how)) + " " + std::to_string(n);
    if (m_answerTimesUs.empty()) return line + ", answer ms -/-/-";
    std::vector<int64_t> t = m_answerTimesUs;
    std::sort(t.begin(), t.end());
    const int64_t median = MedianOf(t);
    auto ms1 = [](int64_t us) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(us) / 1000.0);
        return std::string(text);
    };
    return line + ", answer ms " + ms1(t.front()) + "/" + ms1(median) + "/" + ms1(t.back()) + " (min/median/max)";
}

}  // namespace kalvor
