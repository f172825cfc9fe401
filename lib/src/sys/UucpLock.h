// The UUCP lock files by which serial programs announce that they use a
// port: "<lock dir>/LCK..<tty>" holding the owner's process id.
#pragma once

#include <string>

namespace ylvane::sys {

// True when the port's lock file names a process that is still running. A
// stale file (its process gone) or an unreadable one is no lock.
bool TtyLockedByLiveProcess(const std::string& tty);
// The same, not counting a lock of this process: a host may mark the port
// itself before it opens it through the library.
bool TtyLockedByOtherProcess(const std::string& tty);

}  // namespace ylvane::sys
