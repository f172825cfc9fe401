// The card reader as the tests, the benchmarks and the demo play it: a
// pseudo-terminal whose slave the program opens by its name ("pts/N") as
// the reader's port, while we write the reader's lines into the master.
#pragma once

#include <string>

#include "Pty.h"

namespace testtools {

class VirtualReader {
 public:
  VirtualReader();
  VirtualReader(const VirtualReader&) = delete;
  VirtualReader& operator=(const VirtualReader&) = delete;

  bool Ok() const { return m_ok; }
  // The name a program opens the port by ("pts/N") and its device path.
  std::string PortName() const { return m_pty.Path().substr(5); }
  const std::string& DevicePath() const { return m_pty.Path(); }

  // Waits until a program has opened the port, at most ATimeoutMs. The
  // port library empties the line's queues as the last step of opening a
  // port; the master is told so (packet mode). Bytes written before that
  // are thrown away by the opening, bytes written after it reach the
  // program.
  bool WaitOpened(int ATimeoutMs);
  // Whether a program has set the line up since the reader was made (a
  // fresh pty is in canonical mode; the port makes it raw).
  bool LineSetUp() const;
  // Writes all of AText (blocking while the program has not read enough).
  bool Send(const std::string& AText);
  // The reader is pulled out: the master goes, the program's end of the
  // line hangs up.
  void Unplug() { m_pty.CloseMaster(); }

 private:
  TestPty m_pty;
  bool m_ok = false;
};

}  // namespace testtools
