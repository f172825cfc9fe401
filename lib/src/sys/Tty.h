// The serial-device layer: exclusive open, raw line settings at any baud
// rate, purge and modem lines. Functions answer 0 or an errno value.
#pragma once

#include <cstdint>
#include <string>

namespace ylvane::sys {

enum class TtyOpenFailure { None, NotExists, Busy, Denied, Other };

struct TtyOpenResult {
  int fd = -1;
  TtyOpenFailure failure = TtyOpenFailure::None;
  int error = 0;
};

// Opens a terminal device for exclusive use, non-blocking, without making it
// the controlling terminal. Something that is not a terminal, or is this
// process's own terminal (its controlling terminal or a standard stream's,
// by whatever link it is named), counts as not existing and is never
// opened; a device that another opener holds (flock, TIOCEXCL, or a live
// UUCP lock file of another program) is busy.
TtyOpenResult TtyOpen(const std::string& path);

// Gives the device up again (exclusive use ends, the lock goes with it).
void TtyClose(int fd);

// Raw line settings built from nothing: 8 data bits, no parity, no flow
// control, the receiver on, modem status ignored; twoStopBits or one.
int TtySetLine(int fd, uint32_t baud, bool twoStopBits);
// Changes only the speed.
int TtySetSpeed(int fd, uint32_t baud);
int TtyGetSpeed(int fd, uint32_t* baud);

int TtyFlush(int fd, bool rx, bool tx);

enum TtyLine : int { TtyDtr = 1, TtyRts = 2 };
int TtySetModemLine(int fd, int lines, bool on);

}  // namespace ylvane::sys
