// How many descriptors the process holds: a scan that leaves none behind
// ends with the count it started with.
#pragma once

#include <dirent.h>

inline int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}
