#include "protocol/frame.h"

namespace kalvor {

uint8_t Bcc(const uint8_t* bytes, size_t length) {
    uint8_t x = 0;
    for (size_t i = 0; i < length; ++i) x ^= bytes[i];
    return x;
}

void StoredFrame::Begin(uint8_t command) {
    length = 0;
    Append(EOT);
    Append(FRAME_ID);
    Append(STX);
    Append(command);
}

void StoredFrame::Append(uint8_t byte) {
    // Two places stay free for ETX and the BCC.
    if (length < kCapacity - 2) bytes[length++] = byte;
}

void StoredFrame::Finish() {
    bytes[length++] = ETX;
    bcc = 0;
    for (uint8_t i = 0; i < length; ++i) bcc ^= bytes[i];
    bytes[length++] = bcc;
}

void StoredFrame::Build(uint8_t command, const uint8_t* data, size_t dataLength) {
    Begin(command);
    if (dataLength > kMaxData) dataLength = kMaxData;
    for (size_t i = 0; i < dataLength; ++i) Append(data[i]);
    Finish();
}

}  // namespace kalvor
