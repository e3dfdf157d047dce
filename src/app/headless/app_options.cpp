#include "app/headless/app_options.h"

#include <cctype>
#include <cstring>

#include "zeda_cli.h"

namespace kalvor {

const char* UsageText() {
    return "Usage: kalvor-tp [OPTION]...\n"
           "Service and test console for ZEDA1000 and ZEDA2000 banknote dispenser modules.\n"
           "\n"
           "  --headless          run without a window, reading operator actions from a script\n"
           "  --script FILE       the headless script (default: standard input)\n"
           "  --trace [FILE]      a line for every write and every received chunk: without FILE on\n"
           "                      standard output ([SECONDS.mmm] TX 04 50 02 46 03 13); with FILE a\n"
           "                      timed and decoded trace (ms since start, ms since the line before)\n"
           "  --results FILE      one CSV row per dispense cycle (JSON Lines when FILE ends in\n"
           "                      .jsonl), and a summary line per run in the Message pane\n"
           "  --simulate [MODEL]  talk to a built-in simulated module on COM1 (MODEL zeda1000 or\n"
           "                      zeda2000, also 1000 or 2000; default zeda2000); the profile is\n"
           "                      left as it is\n"
           "  --port [COMn=]PATH  point COMn (COM1 without COMn=) at the device PATH for this run and\n"
           "                      start on it; may be given for several COMn, the first is opened;\n"
           "                      the profile's mapping and remembered port are left as they are\n"
           "  --list-ports        show where COM1-COM4 lead and from where, and every serial device\n"
           "                      present (by-id name, driver, USB ids, whether you may open it and\n"
           "                      whether another program holds it), then exit\n"
           "  --baud N            open the port with N baud (4800, 9600, 19200, 38400), as \"SETUP\"\n"
           "                      sets it (default 9600)\n"
           "  --parity P          open the port with parity P (none, even, odd; default none)\n"
           "  --model M           start with model M selected (1000 or 2000, also zeda1000 or\n"
           "                      zeda2000; default 1000, or the simulated one)\n"
           "  --module NAME       the module's name in every record and the trace header (letters,\n"
           "                      digits, - and _); default: the port's by-id name or path\n"
           "  --port-wait SECONDS how long a port that is absent or lost is waited for before the\n"
           "                      session counts it as not opened (default 0; on a bench 300)\n"
           "  --append            append to the --results and --trace files instead of emptying\n"
           "                      them (a CSV header only in a new or empty file)\n"
           "  --progress          headless: a progress line per dispense cycle on standard error\n"
           "                      (on a terminal one line is redrawn in place without it)\n"
           "  --quiet             headless: no progress line and no run summaries on standard\n"
           "                      error (the closing line and every complaint stay)\n"
           "  --calibration       add the tabs \"Set Environmant\" and \"Notes Init\"\n"
           "  --help              show this help and exit\n"
           "  --version           show the version and exit\n"
           "\n"
           "\n"
           "Burn-in report (no port is opened): kalvor-tp --report OUT.html [LIMITS] RESULTS...\n"
           "  --report OUT.html   one HTML page (inline charts, prints on A4) from one or more\n"
           "                      --results files (CSV or .jsonl) or folders of them, a column\n"
           "                      per module (its `module` column, else the file's name); OUT\n"
           "                      must end in .html and replaces only an earlier report\n"
           "  --max-reject-rate PCT   rejected / (dispensed + rejected) at most PCT % (default 2)\n"
           "  --max-answer-ms MS      every answer (write to answer) within MS ms (default 15000)\n"
           "  --max-errors N          at most N module errors (default 0)\n"
           "  --max-link-failures N   at most N cycles ended by no ACK, no answer, bad frames or\n"
           "                          port lost (default 0)\n"
           "  --min-cycles N          at least N cycles per module (default 1)\n"
           "  Exit status: 0 every module within the limits; 3 some module outside them; 2 bad\n"
           "  options or an unreadable or malformed results file (FILE:LINE: what).\n"
           "\n"
           "Bench of several modules (one headless console each):\n"
           "  kalvor-tp --bench BENCHFILE --script FILE [--out DIR] [--jsonl] [--port-wait SECONDS]\n"
           "            [--progress | --quiet] [REPORT LIMITS]\n"
           "  --bench BENCHFILE   run --script on every module of BENCHFILE, one a line:\n"
           "                      NAME PATH [model=1000|2000] [baud=N] [parity=none|even|odd]\n"
           "                      ('#' starts a comment; a bad line: FILE:LINE: reason, exit 2)\n"
           "  --out DIR           where NAME.csv, NAME.trace, report.html and bench.log go (a new or\n"
           "                      empty folder; default bench-YYYYMMDD-HHMMSS)\n"
           "  --jsonl             records as NAME.jsonl (JSON Lines) instead of NAME.csv\n"
           "  A port not there yet is waited for up to --port-wait seconds (default 300). On a\n"
           "  terminal a table of the modules; --progress a line per cycle; --quiet only the\n"
           "  closing line of each module. SIGINT, SIGTERM, SIGHUP end every module. Exit status\n"
           "  over all modules: 128+N by signal N, else 6 if any, else 3/4/5 combined (a module\n"
           "  error on one and a link give-up on another is 5), else 1 if any, else 0.\n"
           "\n"
           "Serial ports: COMn is the environment variable KALVOR_COMn if set, else key COMn of\n"
           "section [COMPORTS] in ~/.config/kalvor-tp.ini, else /dev/ttyS<n-1>; --port wins over all.\n"
           "A port that is lost (an adapter pulled out) is opened again when its path comes back.\n"
           "\n"
           "Headless script, one action a line ('#' starts a comment):\n"
           "  tab N|NAME | set CONTROL TEXT | check CONTROL | uncheck CONTROL | click CONTROL\n"
           "  wait MS | wait idle [MS] | wait run [MS] | burn N | print message | print status |\n"
           "  print CONTROL | print visible | print disabled | print names | quit\n"
           "CONTROL is a dialog id or a name on the current page: a caption (DISPENSE, UPPER)\n"
           "or an edit's label (\"Repeat Count\"), quoted when it holds blanks. MS: 0-2147483647.\n"
           "wait idle gives up after MS (30000); wait run without MS waits as long as the run\n"
           "goes on. A --script FILE is checked whole before anything is opened (a fault:\n"
           "'script error: FILE:LINE: reason', exit 1); a pipe or a terminal line by line.\n"
           "burn N (1-1000000, on the MENU page): dispense runs with the page's settings until N\n"
           "cycles are written; \"Repeat Count\" takes at most 999, so a burn runs as many runs as\n"
           "it needs; a run a link give-up ended is started again; a module error ends the burn.\n"
           "Every box prints 'BOX [SECONDS.mmm] CAPTION: TEXT' and is closed with OK.\n"
           "Exit status: 0 all went well; 1 script error; 2 bad options; 3 a module error code was\n"
           "shown; 4 the link gave up (no ACK, no answer, bad frames, a cut-off answer); 5 both 3\n"
           "and 4; 6 the bench failed (the port could not be opened or was lost, a request was\n"
           "refused, a results or trace file or standard output could not be written), over 3-5;\n"
           "128+N ended by\n"
           "signal N (SIGINT, SIGTERM, SIGHUP). A line on standard error tells what happened.\n";
}

namespace {

// "[COMn=]PATH": COMn (COM1 when not given) points at PATH. A COMn given twice is refused.
std::string ParsePortOption(const std::string& value, std::vector<std::pair<int, std::string>>& ports) {
    int port = 1;
    std::string path = value;
    const size_t eq = value.find('=');
    auto upper = [&](size_t i) { return std::toupper(static_cast<unsigned char>(value[i])); };
    const bool named = eq != std::string::npos && eq > 3 && upper(0) == 'C' && upper(1) == 'O' && upper(2) == 'M' &&
                       value.find_first_not_of("0123456789", 3) == eq;
    if (named) {
        if (eq != 4 || value[3] < '1' || value[3] > '4')
            return "--port: the console has COM1 to COM4, not '" + value.substr(0, eq) + "'";
        port = value[3] - '0';
        path = value.substr(eq + 1);
    }
    if (path.empty()) return "--port needs a device path: --port [COMn=]PATH";
    for (const auto& [n, p] : ports)
        if (n == port) return "--port: COM" + std::to_string(port) + " is given twice";
    ports.emplace_back(port, path);
    return {};
}

// The value of "--name VALUE" or "--name=VALUE"; false with the complaint when it is missing.
bool TakeValue(int argc, char** argv, int& i, const std::string& arg, const char* name, std::string& value,
               std::string& bad) {
    const std::string prefix = std::string(name) + "=";
    if (arg.rfind(prefix, 0) == 0) {
        value = arg.substr(prefix.size());
    } else if (i + 1 < argc) {
        value = argv[++i];
    } else {
        value.clear();
    }
    if (value.empty()) bad = std::string(name) + " needs a value";
    return !value.empty();
}

bool IsOption(const std::string& arg, const char* name) {
    const size_t n = std::strlen(name);
    return arg.compare(0, n, name) == 0 && (arg.size() == n || arg[n] == '=');
}

}  // namespace

bool ValidModuleName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (const char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
    return true;
}

std::string ParseOptions(int argc, char** argv, AppOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--headless") {
            o.headless = true;
        } else if (a == "--script") {
            if (i + 1 >= argc) return "--script needs a file";
            o.script = argv[++i];
        } else if (a.rfind("--script=", 0) == 0) {
            o.script = a.substr(9);
        } else if (a == "--trace") {
            o.trace = true;
            if (i + 1 < argc && argv[i + 1][0] != '-') o.traceFile = argv[++i];
        } else if (a == "--results") {
            if (i + 1 >= argc) return "--results needs a file";
            o.results = argv[++i];
        } else if (a.rfind("--results=", 0) == 0) {
            o.results = a.substr(10);
        } else if (a.rfind("--trace=", 0) == 0) {
            o.trace = true;
            o.traceFile = a.substr(8);
            if (o.traceFile.empty()) return "--trace= needs a file";
        } else if (a == "--progress") {
            o.progress = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--calibration") {
            o.calibration = true;
        } else if (a == "--simulate" || a.rfind("--simulate=", 0) == 0) {
            std::string model = a.size() > 11 ? a.substr(11) : "";
            if (model.empty() && i + 1 < argc && argv[i + 1][0] != '-') model = argv[++i];
            const int number = model.empty() ? 2000 : zeda::ParseModelName(model);
            if (number == 0) return "--simulate takes zeda1000, zeda2000, 1000 or 2000, not '" + model + "'";
            o.simulate = number == 1000 ? 0 : 1;
        } else if (a == "--list-ports") {
            o.listPorts = true;
        } else if (a == "--port" || a.rfind("--port=", 0) == 0) {
            std::string value = a.size() > 7 ? a.substr(7) : "";
            if (a == "--port") {
                if (i + 1 >= argc) return "--port needs [COMn=]PATH";
                value = argv[++i];
            }
            const std::string bad = ParsePortOption(value, o.ports);
            if (!bad.empty()) return bad;
        } else if (IsOption(a, "--baud")) {
            std::string v, bad;
            if (!TakeValue(argc, argv, i, a, "--baud", v, bad)) return bad;
            if (v != "4800" && v != "9600" && v != "19200" && v != "38400")
                return "--baud takes 4800, 9600, 19200 or 38400, not '" + v + "'";
            o.baud = static_cast<unsigned>(std::stoul(v));
        } else if (IsOption(a, "--parity")) {
            std::string v, bad;
            if (!TakeValue(argc, argv, i, a, "--parity", v, bad)) return bad;
            if (v == "none") o.parity = 0;
            else if (v == "even") o.parity = 1;
            else if (v == "odd") o.parity = 2;
            else return "--parity takes none, even or odd, not '" + v + "'";
        } else if (IsOption(a, "--model")) {
            std::string v, bad;
            if (!TakeValue(argc, argv, i, a, "--model", v, bad)) return bad;
            const int number = zeda::ParseModelName(v);
            if (number == 0) return "--model takes 1000 or 2000 (also zeda1000 or zeda2000), not '" + v + "'";
            o.model = number == 1000 ? 0 : 1;
        } else if (IsOption(a, "--module")) {
            std::string v, bad;
            if (!TakeValue(argc, argv, i, a, "--module", v, bad)) return bad;
            if (!ValidModuleName(v)) return "--module takes letters, digits, '-' and '_' (at most 64), not '" + v + "'";
            o.module = v;
        } else if (IsOption(a, "--port-wait")) {
            std::string v, bad;
            if (!TakeValue(argc, argv, i, a, "--port-wait", v, bad)) return bad;
            if (v.size() > 6 || v.find_first_not_of("0123456789") != std::string::npos)
                return "--port-wait takes seconds from 0 to 999999, not '" + v + "'";
            o.portWaitS = std::stoi(v);
        } else if (IsOption(a, "--events-fd")) {
            // The bench's supervisor hands each session a descriptor for its run events.
            std::string v, bad;
            if (!TakeValue(argc, argv, i, a, "--events-fd", v, bad)) return bad;
            if (v.size() > 4 || v.find_first_not_of("0123456789") != std::string::npos || std::stoi(v) < 3)
                return "--events-fd takes a descriptor number from 3 to 9999, not '" + v + "'";
            o.eventsFd = std::stoi(v);
        } else if (a == "--append") {
            o.append = true;
        } else if (a.rfind("-platform", 0) == 0 || a.rfind("-style", 0) == 0) {
            o.passThrough.push_back(a);
            if (i + 1 < argc) o.passThrough.push_back(argv[++i]);
        } else {
            return "unknown option '" + a + "'";
        }
    }
    if (!o.script.empty() && !o.headless) return "--script needs --headless";
    if (!o.ports.empty() && o.simulate >= 0) return "--port and --simulate both choose the port: give one of them";
    if (o.progress && o.quiet) return "--progress and --quiet contradict each other: give one of them";
    if (o.model >= 0 && o.simulate >= 0 && o.model != o.simulate)
        return "--model and --simulate name different models: give one of them";
    if (o.append && o.results.empty() && o.traceFile.empty()) return "--append needs --results FILE or --trace FILE";
    return {};
}

}  // namespace kalvor
