// Frames on the line: control bytes, the command catalogue and the one stored command frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kalvor {

constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;
constexpr uint8_t FRAME_ID = 'P';

// Command bytes.
namespace cmd {
constexpr uint8_t Purge = 'D';
constexpr uint8_t DispenseUpper = 'E';
constexpr uint8_t DispenseLower = 'U';
constexpr uint8_t DispenseBoth = 'V';
constexpr uint8_t Status = 'F';
constexpr uint8_t RomVersion = 'G';
constexpr uint8_t Divert = 0x60;
constexpr uint8_t BldcSpeed = 'b';
constexpr uint8_t BillLenUpper = 'g';
constexpr uint8_t BillLenLower = 'h';
constexpr uint8_t DivertingUpper = 'i';
constexpr uint8_t DivertingLower = 'j';
constexpr uint8_t RvdtUpper = 'k';
constexpr uint8_t RvdtLower = 'l';
constexpr uint8_t ClutchUpper = 'm';
constexpr uint8_t ClutchLower = 'n';
constexpr uint8_t RvdtRange = 'p';
constexpr uint8_t RvdtValue = 'q';
constexpr uint8_t ReadDip = 'r';
constexpr uint8_t Bit = 's';
constexpr uint8_t RamTestResult = 't';
constexpr uint8_t RamTest = 'u';
constexpr uint8_t RejectUpper = 'v';
constexpr uint8_t RejectLower = 'w';
constexpr uint8_t WriteCalibration = 0x80;
constexpr uint8_t ReadCalibration = 0x81;
constexpr uint8_t ReadAverage = 0x82;
constexpr uint8_t Notice = 0x9C;
}  // namespace cmd

// The dialog's one stored command frame: every command is built here, written from here, and
// stays here for resends and further dispense cycles until the next command is built.
struct StoredFrame {
    static constexpr size_t kCapacity = 30;
    static constexpr size_t kMaxData = 19;
    uint8_t bytes[kCapacity] = {};
    uint8_t length = 0;
    uint8_t bcc = 0;

    // EOT 'P' STX command data ETX BCC. Data beyond 19 bytes is not taken.
    void Build(uint8_t command, const uint8_t* data = nullptr, size_t dataLength = 0);

    // Piecewise building, for the calibration write that computes its data between steps.
    void Begin(uint8_t command);
    void Append(uint8_t byte);
    void Finish();  // appends ETX and the BCC
};

// Exclusive OR of `length` bytes.
uint8_t Bcc(const uint8_t* bytes, size_t length);

}  // namespace kalvor
