#include "zeda_cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>

namespace zeda {

namespace {

bool ToUnsigned(const std::string& s, unsigned long max, unsigned& out, int base = 0) {
    if (s.empty() || s[0] == '-' || s[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long v = std::strtoul(s.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || v > max) return false;
    out = static_cast<unsigned>(v);
    return true;
}

bool ToDouble(const std::string& s, double& out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool ToProbability(const std::string& s, double& out) { return ToDouble(s, out) && out >= 0.0 && out <= 1.0; }

// "CYCLE:CODE", the code in hexadecimal with or without "0x".
bool ToErrorAt(const std::string& s, ErrorAt& out) {
    const auto colon = s.find(':');
    if (colon == std::string::npos) return false;
    unsigned cycle = 0, code = 0;
    if (!ToUnsigned(s.substr(0, colon), 0xFFFFFFFFul, cycle, 10) || cycle == 0) return false;
    std::string c = s.substr(colon + 1);
    if (c.size() > 2 && c[0] == '0' && (c[1] == 'x' || c[1] == 'X')) c = c.substr(2);
    if (!ToUnsigned(c, 0xFF, code, 16)) return false;
    out.cycle = cycle;
    out.code = static_cast<uint8_t>(code);
    return true;
}

}  // namespace

int ParseModelName(const std::string& name) {
    std::string n;
    for (const char c : name) n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (n.rfind("zeda", 0) == 0) n = n.substr(4);
    if (n == "1000") return 1000;
    if (n == "2000") return 2000;
    return 0;
}

bool MakeLink(const std::string& link, const std::string& target, std::string& error) {
    struct stat st{};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link + " exists and is not a symbolic link";
        return false;
    }
    // Made beside it and renamed over it, so that the name never leads nowhere while it is replaced.
    const std::string temporary = link + ".zeda-sim-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0 || ::rename(temporary.c_str(), link.c_str()) != 0) {
        error = "cannot make the link " + link + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n > 0 && std::string(buf, static_cast<size_t>(n)) == target) ::unlink(link.c_str());
}

std::string VersionText() { return "zeda-sim 1.02 (ZEDA1000/ZEDA2000 dispenser module simulator)"; }

std::string UsageText(const std::string& program) {
    return "Usage: " + program + R"( [OPTIONS]

Plays a ZEDA1000 or ZEDA2000 banknote dispenser module on a serial line. Without --device it
creates a pseudo-terminal and prints the path of its slave side on the first line of standard
output (with --device, the device's path); point the console at that path. Ends on SIGINT or
SIGTERM and prints its counters on standard error.

Line:
  --device PATH            serve this serial device instead of a new pseudo-terminal
  --link PATH              make PATH a symbolic link to the served line while it runs (a stable
                           name, like /dev/serial/by-id/...); removed at exit
  --baud N                 line speed: 1200 2400 4800 9600 19200 38400 57600 115200 (9600)
  --parity N|E|O           parity for a real device and for pacing (N)
  --no-pacing              send at once instead of at line speed (10 bit times a byte, 11 with parity)
  --ack-wait-ms MS         how long an answer waits for the console's ACK or NAK (1500)
  --frame-gap-ms MS        a command frame that stalls this long is answered with NAK (200)

Module:
  --model MODEL            1000 (or zeda1000): one cassette (upper); 2000 (or zeda2000):
                           two (2000)
  --notes-upper N          notes in the upper cassette at start (2000)
  --notes-lower N          notes in the lower cassette at start (2000)
  --no-upper, --no-lower   that cassette is not inserted
  --near-end N             a cassette with N notes or fewer reports near-end (50)
  --reject-rate P          probability 0..1 that a picked note is rejected (0.01)
  --max-rejects N          more rejects than N in one dispense stop it with error 44 (10)
  --mech-ms MS             mechanical time of a dispense or another moving command (300)
  --per-note-ms MS         added per note picked (120)
  --process-ms MS          time to answer a command that moves nothing (20)
  --time-scale F           multiplies the three times above; 0 answers at once (1)
  --average upper|lower|alternate   cassette named in the RVDT average answer (alternate)
  --rvdt-average-upper N   RVDT average of the upper cassette, 12 bits (0x1F4)
  --rvdt-average-lower N   RVDT average of the lower cassette (0x1EA)
  --dip N                  DIP switch value, 8 bits (0)
  --rom-version TEXT       4-character ROM version (1.07 or 2.07 by model)
  --seed N                 seed of the random draws: same seed, same commands, same bytes (1)

Faults (each P is a probability 0..1, drawn once per occasion):
  --drop-ack=P             send nothing instead of the ACK; the command is not taken
  --nak-ack=P              send NAK instead of the ACK; the command is not taken
  --noise-ack=P            send one noise byte instead of the ACK; the command is not taken
  --corrupt-bcc=P          send an answer with a wrong BCC (each transmission)
  --cut-response=P         send only the first part of an answer, never its ETX (each transmission)
  --late=P                 answer --late-ms later than the work takes
  --late-ms=MS             delay of a late answer (3000)
  --no-answer=P            acknowledge and perform a command but never answer it
  --noise=P                send one to three noise bytes (never SOH or ACK) before an answer
  --error-at=CYCLE:CODE    answer the CYCLE-th dispense command (from 1) with the hexadecimal
                           error CODE, e.g. --error-at=3:38; may be given several times

Other:
  --verbose                log every byte and event on standard error
  --help                   show this text
  --version                show the version
)";
}

bool ParseCommandLine(const std::vector<std::string>& args, CliConfig& out, std::string& error) {
    SimOptions& o = out.options;
    FaultOptions& f = o.faults;

    using Setter = std::function<bool(const std::string&)>;
    auto uns = [](unsigned& field, unsigned long max = 0xFFFFFFFFul) {
        return Setter([&field, max](const std::string& v) { return ToUnsigned(v, max, field); });
    };
    auto prob = [](double& field) { return Setter([&field](const std::string& v) { return ToProbability(v, field); }); };

    const std::map<std::string, Setter> valued = {
        {"--device", [&](const std::string& v) { out.device = v; return !v.empty(); }},
        {"--link", [&](const std::string& v) { out.link = v; return !v.empty(); }},
        {"--model", [&](const std::string& v) { const int m = ParseModelName(v); return m != 0 && ((o.model = m), true); }},
        {"--baud", uns(o.baud)},
        {"--parity", [&](const std::string& v) {
             if (v.size() != 1) return false;
             const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
             if (c != 'N' && c != 'E' && c != 'O') return false;
             o.parity = c;
             return true;
         }},
        {"--ack-wait-ms", uns(o.ackWaitMs)},
        {"--frame-gap-ms", uns(o.frameGapMs)},
        {"--notes-upper", uns(o.notesUpper)},
        {"--notes-lower", uns(o.notesLower)},
        {"--near-end", uns(o.nearEnd)},
        {"--reject-rate", prob(o.rejectRate)},
        {"--max-rejects", uns(o.maxRejects, 98)},
        {"--mech-ms", uns(o.mechMs)},
        {"--per-note-ms", uns(o.perNoteMs)},
        {"--process-ms", uns(o.processMs)},
        {"--time-scale", [&](const std::string& v) { return ToDouble(v, o.timeScale) && o.timeScale >= 0.0; }},
        {"--average", [&](const std::string& v) {
             if (v == "upper") o.averageCassette = 0;
             else if (v == "lower") o.averageCassette = 1;
             else if (v == "alternate") o.averageCassette = -1;
             else return false;
             return true;
         }},
        {"--rvdt-average-upper", uns(o.rvdtAverageUpper, 0xFFF)},
        {"--rvdt-average-lower", uns(o.rvdtAverageLower, 0xFFF)},
        {"--dip", uns(o.dipSwitches, 0xFF)},
        {"--rom-version", [&](const std::string& v) { o.romVersion = v; return v.size() == 4; }},
        {"--seed", [&](const std::string& v) { unsigned s; return ToUnsigned(v, 0xFFFFFFFFul, s) && ((o.seed = s), true); }},
        {"--drop-ack", prob(f.dropAck)},
        {"--nak-ack", prob(f.nakAck)},
        {"--noise-ack", prob(f.noiseAck)},
        {"--corrupt-bcc", prob(f.corruptBcc)},
        {"--cut-response", prob(f.cutResponse)},
        {"--late", prob(f.late)},
        {"--late-ms", uns(f.lateMs)},
        {"--no-answer", prob(f.noAnswer)},
        {"--noise", prob(f.noise)},
        {"--error-at", [&](const std::string& v) {
             ErrorAt e;
             if (!ToErrorAt(v, e)) return false;
             f.errorAt.push_back(e);
             return true;
         }},
    };
    const std::map<std::string, std::function<void()>> flags = {
        {"--no-pacing", [&] { o.pacing = false; }},
        {"--no-upper", [&] { o.upperPresent = false; }},
        {"--no-lower", [&] { o.lowerPresent = false; }},
        {"--verbose", [&] { out.verbose = true; }},
        {"--help", [&] { out.help = true; }},
        {"-h", [&] { out.help = true; }},
        {"--version", [&] { out.version = true; }},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (const auto fl = flags.find(name); fl != flags.end()) {
            if (hasValue) {
                error = name + " takes no value";
                return false;
            }
            fl->second();
            continue;
        }
        const auto it = valued.find(name);
        if (it == valued.end()) {
            error = "unknown option " + args[i];
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!it->second(value)) {
            error = "bad value for " + name + ": '" + value + "'";
            return false;
        }
    }
    if (out.help || out.version) return true;
    error = ValidateOptions(o);
    return error.empty();
}

}  // namespace zeda
