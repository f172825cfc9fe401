// Holds the process's file size limit at a few bytes for a scope, so that
// writing any file fails part-way (also for root, whom permissions do not
// stop), the way a full disk does.
#pragma once

#include <signal.h>
#include <sys/resource.h>

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t ABytes = 4) {
    old_signal_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit tiny = old_;
    tiny.rlim_cur = ABytes;
    setrlimit(RLIMIT_FSIZE, &tiny);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_signal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t old_signal_;
};
