// The UUCP lock files by which serial programs announce that they use a
// port: "<lock dir>/LCK..<tty>" holding the owner's process id.
#pragma once

#include <string>

namespace ylvane::sys {

// True when the port's lock file names a process that is still running. A
// stale file (its process gone) or an unreadable one is no lock.
bool TtyLockedByLiveProcess(const std::string& tty);

}  // namespace ylvane::sys
