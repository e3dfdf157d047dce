#include "zeda_module.h"

#include <algorithm>

namespace zeda {

namespace {

constexpr uint8_t kOk = '1';
constexpr uint8_t kBillEndUpper = 0x38;
constexpr uint8_t kRequestError = 0x3B;
constexpr uint8_t kBillEndLower = 0x40;
constexpr uint8_t kOverReject = 0x44;
constexpr uint8_t kUpperCashboxNot = 0x45;
constexpr uint8_t kLowerCashboxNot = 0x46;
constexpr unsigned kMaxRequest = 60;

// One block of the calibration record as the "Notes Init" preset for 65 - 70 mm notes writes it.
const Bytes kDefaultBlock = {'7', '?', '0', '2', '8', '0', 0x29, 0x42, '0'};

// A status byte must not look like SOH or ETX; bit 7 is not read by the console, so it can mark the byte.
uint8_t SafeStatusByte(uint8_t v) { return (v == kSoh || v == kEtx) ? static_cast<uint8_t>(v | 0x80) : v; }

uint16_t Crc16(const Bytes& data) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : data) {
        crc ^= static_cast<uint16_t>(b << 8);
        for (int i = 0; i < 8; ++i)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

}  // namespace

double Uniform01(std::mt19937& rng) { return (static_cast<double>(rng()) + 0.5) / 4294967296.0; }

bool Chance(std::mt19937& rng, double p) { return Uniform01(rng) < p; }

unsigned Below(std::mt19937& rng, unsigned n) { return static_cast<unsigned>(rng() % n); }

Module::Module(const SimOptions& options) : o_(options), rng_(options.seed) {
    notes_[0] = o_.notesUpper;
    notes_[1] = o_.model == 1000 ? 0 : o_.notesLower;
    present_[0] = o_.upperPresent;
    present_[1] = o_.model != 1000 && o_.lowerPresent;
    record_ = kDefaultBlock;
    if (o_.model == 1000)
        record_.insert(record_.end(), 9, '0');
    else
        record_.insert(record_.end(), kDefaultBlock.begin(), kDefaultBlock.end());
    nextAverage_ = o_.averageCassette == 1 ? 1 : 0;
}

bool Module::IsRejectReason(uint8_t b) { return b == '0' || b == '3' || b == '<' || b == '=' || b == '>'; }

bool Module::Has(int c) const { return present_[c]; }

uint8_t Module::MissingCode(int c) const { return c == 0 ? kUpperCashboxNot : kLowerCashboxNot; }

uint8_t Module::EmptyCode(int c) const { return c == 0 ? kBillEndUpper : kBillEndLower; }

int Module::Jitter(int span) { return static_cast<int>(Below(rng_, static_cast<unsigned>(2 * span + 1))) - span; }

uint8_t Module::RejectReason() {
    // The three kinds the console tells apart, equally likely; length and nearing have two codes each.
    switch (Below(rng_, 3)) {
    case 0: return Below(rng_, 2) ? '3' : '0';
    case 1: return '<';
    default: return Below(rng_, 2) ? '>' : '=';
    }
}

unsigned Module::Limit(int block, int which) const {
    const std::size_t s = static_cast<std::size_t>(block) * 9 + static_cast<std::size_t>(which) * 3;
    return NibbleValue(record_[s]) << 8 | NibbleValue(record_[s + 1]) << 4 | NibbleValue(record_[s + 2]);
}

ModuleState Module::State() const {
    ModuleState s;
    s.model = o_.model;
    s.notesUpper = notes_[0];
    s.notesLower = notes_[1];
    s.upperPresent = present_[0];
    s.lowerPresent = present_[1];
    s.rejectTray = tray_;
    s.dispenseCycles = cycles_;
    s.lastError = lastError_;
    s.calibration = record_;
    return s;
}

Reply Module::Simple(uint8_t code, Bytes data, uint32_t workMs) {
    Reply r;
    r.cmd = code;
    r.frame = BuildResponse(code, data);
    r.workMs = workMs;
    return r;
}

std::optional<Reply> Module::Execute(uint8_t cmd, const Bytes& data) {
    Reply r;
    switch (cmd) {
    case 'E': case 'U': case 'V':
        r = Dispense(cmd, data);
        break;
    case 'F':
        r = Status();
        break;
    case 'G':
        r = RomVersion();
        break;
    case 'D':
        tray_ = 0;
        lastError_ = 0;
        r = Simple('D', {'0'}, o_.mechMs);
        break;
    case 0x60:
        r = Simple(0x60, {kOk}, o_.mechMs);
        break;
    case 'i': case 'j': case 'v': case 'w':
        r = MoveToTray(cmd, (cmd == 'j' || cmd == 'w') ? 1 : 0);
        break;
    case 'm': case 'n': {
        const int c = cmd == 'n' ? 1 : 0;
        r = Simple(cmd, {Has(c) ? kOk : MissingCode(c)}, o_.mechMs);
        break;
    }
    case 'b': {
        // BLDC motor speed around 2400 rpm.
        Bytes d;
        AppendNibbles(d, static_cast<unsigned>(2400 + Jitter(12)), 4);
        r = Simple('b', d, o_.processMs);
        break;
    }
    case 'g': case 'h':
        r = BillLength(cmd, cmd == 'h' ? 1 : 0);
        break;
    case 'k': case 'l':
        r = Rvdt(cmd, cmd == 'l' ? 1 : 0);
        break;
    case 'p':
        r = RvdtRange();
        break;
    case 'q':
        r = RvdtValue();
        break;
    case 'r': {
        Bytes d;
        AppendNibbles(d, o_.dipSwitches, 2);
        r = Simple('r', d, o_.processMs);
        break;
    }
    case 's': {
        // Built-in test: one flag per item, '1' = failed. Items 0 and 1 are the cassettes.
        Bytes d(80, '0');
        if (!present_[0]) d[0] = '1';
        if (o_.model != 1000 && !present_[1]) d[1] = '1';
        r = Simple('s', d, o_.processMs);
        break;
    }
    case 'u':
        r = Simple('t', {'0'}, o_.processMs * 5);
        break;
    case 0x80:
        r = StoreCalibration(data);
        break;
    case 0x81:
        r = Simple(0x81, record_, o_.processMs);
        break;
    case 0x82:
        r = Average();
        break;
    default:
        return std::nullopt;
    }
    return r;
}

Reply Module::Dispense(uint8_t cmd, const Bytes& data) {
    Reply r;
    r.cmd = cmd;
    r.dispense = true;
    ++cycles_;

    Run runs[2];
    const bool both = cmd == 'V';
    const int single = cmd == 'U' ? 1 : 0;
    // Each count is two digits, tens first, each read by its low four bits as the console writes them.
    auto count = [&](std::size_t i) { return NibbleValue(data[i]) * 10 + NibbleValue(data[i + 1]); };
    if (both) {
        runs[0].requested = data.size() >= 2 ? count(0) : 0;
        runs[1].requested = data.size() >= 4 ? count(2) : 0;
    } else {
        runs[single].requested = data.size() >= 2 ? count(0) : 0;
    }

    uint8_t result = kOk;
    const auto injected = std::find_if(o_.faults.errorAt.begin(), o_.faults.errorAt.end(),
                                       [&](const ErrorAt& e) { return e.cycle == cycles_; });
    uint32_t t = o_.mechMs;
    if (injected != o_.faults.errorAt.end()) {
        result = injected->code;
        r.injectedError = true;
    } else if (o_.model == 1000 && cmd != 'E') {
        result = kLowerCashboxNot;
    } else if (runs[0].requested > kMaxRequest || runs[1].requested > kMaxRequest) {
        result = kRequestError;
    } else {
        for (int c = 0; c < 2 && result == kOk; ++c) {
            if (!both && c != single) continue;
            if (runs[c].requested > 0 && !Has(c)) {
                result = MissingCode(c);
                break;
            }
            DispenseFrom(c, runs[c], r, t);
            result = runs[c].code;
        }
    }

    lastError_ = result == kOk ? 0 : result;
    r.result = result;
    r.workMs = t;
    r.dispensed = runs[0].dispensed + runs[1].dispensed;
    r.rejected = runs[0].rejected + runs[1].rejected;

    auto emptyFlag = [&](int c) -> uint8_t { return (Has(c) && notes_[c] == 0) ? '1' : '0'; };
    Bytes d;
    if (both) {
        AppendDecimal2(d, runs[0].requested);
        AppendDecimal2(d, runs[0].dispensed);
        AppendDecimal2(d, runs[1].requested);
        AppendDecimal2(d, runs[1].dispensed);
        d.push_back(result);
        d.push_back(emptyFlag(0));
        d.push_back(emptyFlag(1));
        AppendDecimal2(d, runs[0].rejected);
        AppendDecimal2(d, runs[1].rejected);
    } else {
        AppendDecimal2(d, runs[single].requested);
        AppendDecimal2(d, runs[single].dispensed);
        d.push_back(result);
        d.push_back(emptyFlag(single));
        AppendDecimal2(d, runs[single].rejected);
    }
    r.frame = BuildResponse(cmd, d);
    return r;
}

void Module::DispenseFrom(int c, Run& run, Reply& reply, uint32_t& t) {
    while (run.dispensed < run.requested) {
        if (notes_[c] == 0) {
            run.code = EmptyCode(c);
            return;
        }
        --notes_[c];
        t += o_.perNoteMs;
        if (Chance(rng_, o_.rejectRate)) {
            ++run.rejected;
            ++tray_;
            reply.notices.push_back({t, {kSoh, kNoticeId, RejectReason()}});
            if (run.rejected > o_.maxRejects) {
                run.code = kOverReject;
                return;
            }
            continue;
        }
        ++run.dispensed;
    }
}

Reply Module::Status() {
    const bool near0 = Has(0) && notes_[0] <= o_.nearEnd;
    const bool near1 = Has(1) && notes_[1] <= o_.nearEnd;
    const bool tray = tray_ > 0;
    uint8_t sen0 = near0 ? 0x40 : 0x00;  // bits 0..5: transport sensors, all clear at rest
    uint8_t sen1 = 0;
    if (o_.model == 1000) {
        if (tray) sen1 |= 0x01;
        if (present_[0]) sen1 |= 0x02;
    } else {
        if (present_[0]) sen1 |= 0x02;
        if (present_[1]) sen1 |= 0x04;
        if (near1) sen1 |= 0x20;
        if (tray) sen1 |= 0x40;
    }
    return Simple('F', {'0', lastError_, SafeStatusByte(sen0), SafeStatusByte(sen1)}, o_.processMs);
}

Reply Module::RomVersion() {
    std::string v = o_.romVersion.empty() ? (o_.model == 1000 ? "1.07" : "2.07") : o_.romVersion;
    v.resize(4, ' ');
    Bytes d(v.begin(), v.end());
    Bytes seed;
    seed.push_back('Z');
    seed.push_back(static_cast<uint8_t>(o_.model / 1000));
    for (uint8_t b : d) seed.push_back(b);
    AppendNibbles(d, Crc16(seed), 4);
    return Simple('G', d, o_.processMs);
}

Reply Module::MoveToTray(uint8_t cmd, int c) {
    // Diverting and rejecting both pick one note from the cassette and drop it into the reject tray.
    uint8_t code = kOk;
    uint32_t t = o_.mechMs;
    if (!Has(c)) {
        code = MissingCode(c);
    } else if (notes_[c] == 0) {
        code = EmptyCode(c);
    } else {
        --notes_[c];
        ++tray_;
        t += o_.perNoteMs;
    }
    lastError_ = code == kOk ? 0 : code;
    Reply r = Simple(cmd, {code}, t);
    r.result = code;
    return r;
}

Reply Module::BillLength(uint8_t cmd, int c) {
    // Six lengths in millimetres as measured at the six transport sensors, the thickness deviation of the
    // note (signed, two nibble digits) and the sum of the six lengths.
    Bytes d;
    unsigned sum = 0;
    const bool real = Has(c);
    const int length = 66 + (c == 1 ? 2 : 0);
    for (int i = 0; i < 6; ++i) {
        const unsigned v = real ? static_cast<unsigned>(length + Jitter(1)) : 0u;
        sum += v;
        d.push_back(static_cast<uint8_t>(v));
    }
    const int rvdt = real ? Jitter(3) : 0;
    AppendNibbles(d, static_cast<unsigned>(rvdt) & 0xFF, 2);
    AppendNibbles(d, sum, 4);
    return Simple(cmd, d, o_.processMs);
}

Reply Module::Rvdt(uint8_t cmd, int c) {
    // Ten readings of the thickness sensor at rest: 0x80 is the zero point.
    Bytes d;
    for (int i = 0; i < 10; ++i) d.push_back(static_cast<uint8_t>(0x80 + (Has(c) ? Jitter(3) : 0)));
    return Simple(cmd, d, o_.processMs);
}

Reply Module::RvdtRange() {
    // RVDT limit 1 and 2 of each cassette of the model, from the stored record, as 16-bit values.
    Bytes d;
    const int blocks = o_.model == 1000 ? 1 : 2;
    for (int b = 0; b < blocks; ++b) {
        AppendNibbles(d, Limit(b, 0), 4);
        AppendNibbles(d, Limit(b, 1), 4);
    }
    return Simple('p', d, o_.processMs);
}

Reply Module::RvdtValue() {
    // The thickness profile of the last note: twelve samples around the zero point 0x80.
    Bytes d;
    for (int i = 0; i < 12; ++i) d.push_back(static_cast<uint8_t>(0x80 + Jitter(4)));
    return Simple('q', d, o_.processMs);
}

Reply Module::StoreCalibration(const Bytes& data) {
    // data = 0x15 and the record; the short one-cassette form lacks the last two filler bytes.
    Bytes rec(data.begin() + (data.empty() ? 0 : 1), data.end());
    rec.resize(18, '0');
    record_ = rec;
    return Simple(0x80, record_, o_.processMs);
}

Reply Module::Average() {
    const int c = o_.model == 1000 ? 0 : (o_.averageCassette < 0 ? nextAverage_ : o_.averageCassette);
    if (o_.averageCassette < 0 && o_.model != 1000) nextAverage_ ^= 1;
    const unsigned base = c == 0 ? o_.rvdtAverageUpper : o_.rvdtAverageLower;
    const unsigned v = static_cast<unsigned>(std::clamp(static_cast<int>(base) + Jitter(2), 0, 0xFFF));
    Bytes d{static_cast<uint8_t>('0' + c)};
    AppendNibbles(d, v, 3);
    return Simple(0x82, d, o_.processMs);
}

}  // namespace zeda
