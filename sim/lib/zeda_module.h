// The module's inner working: cassettes, reject tray, calibration record and the answer to each command.
// No input or output here; the Simulator decides when and how the answers travel.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "zeda_protocol.h"
#include "zeda_simulator.h"

namespace zeda {

// Random helpers that give the same sequence with every standard library (the standard distributions may
// differ between implementations).
double Uniform01(std::mt19937& rng);                  // [0, 1)
bool Chance(std::mt19937& rng, double p);             // true with probability p; always draws one number
unsigned Below(std::mt19937& rng, unsigned n);        // 0 .. n-1 (n > 0)

// A byte sequence the module sends on its own while it works, `atMs` after the work began.
struct Notice {
    uint32_t atMs = 0;
    Bytes bytes;
};

struct Reply {
    uint8_t cmd = 0;
    Bytes frame;                  // the complete response frame
    uint32_t workMs = 0;          // time from the ACK to the answer, before scaling
    std::vector<Notice> notices;  // in time order, all at or before workMs
    bool dispense = false;
    unsigned dispensed = 0;       // notes paid out (dispense answers)
    unsigned rejected = 0;        // notes rejected (dispense answers)
    uint8_t result = '1';         // the result code carried, where the answer has one
    bool injectedError = false;   // the result came from FaultOptions::errorAt
};

class Module {
public:
    explicit Module(const SimOptions& options);

    // Performs one command and builds its answer; nullopt for a command byte the module does not know.
    std::optional<Reply> Execute(uint8_t cmd, const Bytes& data);

    ModuleState State() const;

    // The reject reason bytes the module uses in its notices.
    static bool IsRejectReason(uint8_t b);

private:
    struct Run {
        unsigned requested = 0;
        unsigned dispensed = 0;
        unsigned rejected = 0;
        uint8_t code = '1';
    };

    Reply Dispense(uint8_t cmd, const Bytes& data);
    void DispenseFrom(int cassette, Run& run, Reply& reply, uint32_t& t);
    Reply Status();
    Reply RomVersion();
    Reply MoveToTray(uint8_t cmd, int cassette);
    Reply BillLength(uint8_t cmd, int cassette);
    Reply Rvdt(uint8_t cmd, int cassette);
    Reply RvdtRange();
    Reply RvdtValue();
    Reply StoreCalibration(const Bytes& data);
    Reply Average();
    Reply Simple(uint8_t code, Bytes data, uint32_t workMs);

    bool Has(int cassette) const;              // the model has it and it is inserted
    uint8_t MissingCode(int cassette) const;   // 0x45 / 0x46
    uint8_t EmptyCode(int cassette) const;     // 0x38 / 0x40
    unsigned Limit(int block, int which) const;  // RVDT limit 1 or 2 of a block of the record
    uint8_t RejectReason();
    int Jitter(int span);                      // -span .. span

    SimOptions o_;
    std::mt19937 rng_;
    unsigned notes_[2];
    bool present_[2];
    unsigned tray_ = 0;
    unsigned cycles_ = 0;
    uint8_t lastError_ = 0;
    Bytes record_;  // 18 bytes
    int nextAverage_ = 0;
};

}  // namespace zeda
