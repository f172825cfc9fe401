// A card reader for people without one (scripts/demo): a pseudo-terminal
// that a program opens as the reader's port, and a sample card line written
// into it every few seconds once the port is open.
//
//   sorvex_virtual_reader [-i SECONDS] [LINE...]
//
// The first line on standard output is the port's name ("pts/N"), for
// sorvex -p. Each LINE is sent with CR LF after it, in turn, round and
// round; without any, one line of each common card kind. Runs until it is
// ended by a signal.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "VirtualReader.h"

int main(int argc, char** argv) {
  int interval = 3;
  std::vector<std::string> lines;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-i") == 0 && i + 1 < argc) {
      interval = std::atoi(argv[++i]);
    } else if (argv[i][0] == '-') {
      std::fprintf(stderr, "usage: sorvex_virtual_reader [-i SECONDS] [LINE...]\n");
      return 2;
    } else {
      lines.emplace_back(argv[i]);
    }
  }
  if (interval <= 0) interval = 3;
  if (lines.empty()) {
    lines = {"Mifare[04A1B2C3D4E5F6] (UL)", "Mifare[1A2B3C4D] (1K)", "Em-Marine[00AB12CDEF] 18,52719",
             "HID[1A2B3C4D] 12345", "Dallas[01D2C3B4A5968778]", "iCode[E004010012345678]",
             "[0102030405060708]"};
  }

  testtools::VirtualReader reader;
  if (!reader.Ok()) {
    std::fprintf(stderr, "sorvex_virtual_reader: no pseudo-terminal\n");
    return 1;
  }
  std::printf("%s\n", reader.PortName().c_str());
  std::fflush(stdout);

  // Lines written before the port is open would be thrown away by its
  // opening.
  while (!reader.WaitOpened(3600 * 1000)) {
  }
  std::fprintf(stderr, "virtual reader: port %s is open; a card every %d s\n", reader.PortName().c_str(), interval);
  for (size_t n = 0;; ++n) {
    const std::string& line = lines[n % lines.size()];
    std::this_thread::sleep_for(std::chrono::seconds(interval));
    std::fprintf(stderr, "virtual reader: %s\n", line.c_str());
    if (!reader.Send(line + "\r\n")) {
      std::fprintf(stderr, "sorvex_virtual_reader: the port cannot be written\n");
      return 1;
    }
  }
}
