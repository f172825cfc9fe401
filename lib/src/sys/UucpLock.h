// The UUCP lock files by which serial programs announce that they use a
// port: "<lock dir>/LCK..<name>" holding the owner's process id.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace ylvane::sys {

// The process id a lock file's content names, or 0 when it names none.
// Lock writers use one of two forms, told apart by the size: exactly 4
// bytes are a binary int (the old form); anything else is ASCII digits,
// with blanks around them and a newline at the end (the usual "%10d\n").
pid_t LockFileOwner(std::string_view content);

// True when the port's lock file names a process that is still running. A
// stale file (its process gone) or an unreadable one is no lock.
bool TtyLockedByLiveProcess(const std::string& tty);

// Whether a live program other than this one (a host may mark the port
// itself before it opens it through the library) holds a lock on the
// device dev, which the path below /dev names and finalPath is the
// kernel's name of. Programs name a device in their lock by the last part
// of the path they opened ("pts/1" gives "LCK..1") or by the whole path
// below /dev with '_' for '/' ("LCK..pts_1"), and the path may be a link or
// another node of the same device: so a lock counts when its name is one
// the path or finalPath gives, or when the device its name stands for is
// dev.
bool DeviceLockedByOtherProcess(const std::string& path, const std::string& finalPath, dev_t dev);

}  // namespace ylvane::sys
