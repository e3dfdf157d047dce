#include "protocol/error_codes.h"

#include <cstdio>

namespace kalvor {

const char* const ErrorCodeTable[kErrorCodeCount] = {
    "Pickup Error\n CODE[32]",
    "Jam (check sensors Upper) \n CODE[33]",
    "Overflow bills \n CODE[34]",
    "Jam (Exit or Eject sensor) \n CODE[35]",
    "Jam (Divert sensor) \n CODE[36]",
    "Reserved \n CODE[37]",
    "BILL End UPPER \n Code[38]",
    "Reserved \n CODE[39]",
    "Misnatch CRI to EJECT \n CODE[3A]",
    "BILL REQUEST ERROR \n CODE[3B]",
    "Divert<-> EJECT Timeout \n CODE[3C]",
    "BILL COUNT \n CODE[3D]",
    "SENSOR ERROR \n CODE[3E]",
    "REJECT BOX NOT \n CODE[3F]",
    "BILL End LOWER \n CODE[40]",
    "MOTOR STOP \n CODE[41]",
    "BILL SLIP \n CODE[42]",
    "Divert<-> EJECT Timeout \n CODE[43]",
    "OVER REJECT \n CODE[44]",
    "UPPER CASHBOX NOT \n CODE[45]",
    "LOWER CASHBOX NOT \n CODE[46]",
    "Response Timeout \n CODE[47]",
    "EJECT JAM \n CODE[48]",
    "DIVERTER ERROR \n CODE[49]",
    "DIVERTER or DIVERTIING Sensor ERROR \n CODE[4A]",
    "Check<->Divert Count Err \n CODE[4B]",
    "Jam (check sensors Lower) \n CODE[4C]",
    "reserved \n CODE[4D]",
    "REVERSE_JAM \n CODE[4E]",
    "BILL_OTHER \n CODE[4F]",
    "CHECK->DIVERT TIMEOUT \n CODE[50]",
    "Reserved \n CODE[51]",
    "Reserved \n CODE[52]",
    "RAM ERROR \n CODE[53]",
    "RAM ERROR \n CODE[54]",
    "Reserved \n CODE[55]",
    "Reserved \n CODE[56]",
    "Reserved \n CODE[57]",
    "Reserved \n CODE[58]",
    "Reserved \n CODE[59]",
    "Reserved \n CODE[5A]",
    "Reserved \n CODE[5B]",
    "DIFFERENCE EJECT to EXIT COUNT \n CODE[5C]",
    "Reserved \n CODE[5D]",
    "Reserved \n CODE[5E]",
    "Reserved \n CODE[5F]",
    "Cam Motor Stop \n CODE[60]",
    "Cam Closed \n CODE[61]",
    "Cam Not Closed \n CODE[62]",
    "Cam Opened \n CODE[63]",
    "Bill in Cam \n CODE[64]",
    "Reserved \n CODE[65]",
    "Cam Sensor Error \n CODE[66]",
    "Cam Open Timeout \n CODE[67]",
    "Reserved \n CODE[68]",
};

std::string ErrorCodeText(uint8_t code) {
    if (code >= kFirstErrorCode && code <= kLastErrorCode) return ErrorCodeTable[code - kFirstErrorCode];
    char text[32];
    std::snprintf(text, sizeof text, "Unknown Error \n CODE[%02X]", code);
    return text;
}

}  // namespace kalvor
