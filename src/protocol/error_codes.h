// The module's error codes 0x32-0x68 and their texts, shown with the caption "ERROR CODE".
#pragma once

#include <cstdint>
#include <string>

namespace kalvor {

constexpr uint8_t kFirstErrorCode = 0x32;
constexpr uint8_t kLastErrorCode = 0x68;
constexpr int kErrorCodeCount = kLastErrorCode - kFirstErrorCode + 1;  // 55

extern const char* const ErrorCodeTable[kErrorCodeCount];

// The box text for a module code: its table text, or "Unknown Error \n CODE[XX]" for a code
// without a row, so no lookup ever leaves the table.
std::string ErrorCodeText(uint8_t code);

}  // namespace kalvor
