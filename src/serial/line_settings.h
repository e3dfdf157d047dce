// Private helpers of CComm: the termios for a set of DCB-style line settings, and what a
// pseudo-terminal does with them. Kept apart so the channel tests can check the flags directly
// (a Linux pseudo-terminal forces CS8 and clears PARENB whatever it is told).
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>

namespace kalvor::serial_detail {

// The termios code of a baud rate (1200 ... 115200), or B0 when it is not supported.
speed_t BaudCode(uint32_t baud);

// Turns `tio` (the device's current settings) into raw mode with the given line settings:
// cfmakeraw, CLOCAL|CREAD, byte size 5-8, stop bits 0 = one, 1 (one and a half) or 2 = two,
// parity 0 none, 1 odd, 2 even, 3 mark, 4 space (INPCK when on), no flow control,
// VMIN = VTIME = 0, both speeds. Returns false (and why) when a value is not supported.
bool MakeLineSettings(termios& tio, uint32_t baud, uint8_t byteSize, uint8_t stopBits, uint8_t parity,
                      std::string* why);

// The flags a pseudo-terminal slave does not keep (the kernel forces CS8 and clears PARENB).
constexpr tcflag_t kPtyIgnoredCflags = CSIZE | PARENB;

// True when fd is the slave side of a pseudo-terminal (Unix98 or legacy BSD).
bool IsPseudoTerminal(int fd);

// Whether `got` (read back after tcsetattr) carries the settings of `want`; `ignoredCflags` are
// not compared (kPtyIgnoredCflags for a pseudo-terminal, 0 for a real port).
bool SettingsTookEffect(const termios& want, const termios& got, tcflag_t ignoredCflags);

}  // namespace kalvor::serial_detail
