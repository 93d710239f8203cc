// A full disk for the tests of whole programs (the command line, the windows' export), which
// write through the real file system: while a FileSizeLimit lives, this process (and any program
// it starts) cannot make a file larger than the limit. A write past it fails with EFBIG, as a
// write to a full disk fails with ENOSPC, for SQLite and for the Access pager alike; files that
// do not grow are written as usual.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <cstdint>

namespace dbtest {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::uint64_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    // Past the limit the system sends SIGXFSZ, which ends the process unless it is ignored.
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t oldHandler_ = SIG_DFL;
};

}  // namespace dbtest
