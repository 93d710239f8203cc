// The lock file that Access keeps beside an open database, and our use of it before we write.
//
// Access's convention: the lock file has the database's name with the extension ".ldb" (for
// .mdb files) or ".laccdb" (for .accdb files), in the same folder. Access creates it when it opens
// the database and deletes it when the last user closes it. Each user has a 64-byte entry in it:
// the computer name in 32 bytes and the security user name in 32 bytes, each NUL-padded.
//
// Our rules:
//   - A lock file that we did not create means the database is open in another program: we do
//     not write, and say so (db::Error).
//   - While we write, we hold the lock file ourselves: one entry with this computer's name and
//     the user name "Rowsifter" (our marker), and an fcntl write lock on the whole file so that
//     our own processes exclude each other. The connections of one process share one lock.
//   - The last holder in the process removes the lock file.
//   - A lock file with our marker and no fcntl lock on it was left by a process of ours that
//     ended without cleaning up: it is taken over.
//   - Access joining while we write appends its entry to our lock file; `checkAlone` sees that.
//   - One file may have several names. The lock file (like the journal) goes beside the file
//     itself, symbolic links resolved; and while we write we also hold an flock on the database
//     file, so that a process of ours that reaches it through another hard link is refused.
#pragma once

#include <memory>
#include <string>

namespace db::access::write {

// The path of the database file itself: `databasePath` with symbolic links resolved (as given
// when it cannot be resolved, e.g. when there is no such file).
std::string ResolvedDatabasePath(const std::string& databasePath);

// "<folder>/<name>.laccdb" for a database whose extension begins with "acc" (.accdb, .accde,
// any letter case), "<folder>/<name>.ldb" for every other one; of the resolved path.
std::string LockFilePath(const std::string& databasePath);

class JetLock {
 public:
  // Takes the right to write `databasePath` for this process, or shares the one the process
  // already has. Throws db::Error when another program has the database open.
  static std::shared_ptr<JetLock> Acquire(const std::string& databasePath);

  ~JetLock();
  JetLock(const JetLock&) = delete;
  JetLock& operator=(const JetLock&) = delete;

  const std::string& databasePath() const { return databasePath_; }
  const std::string& lockPath() const { return lockPath_; }

  // Throws the "open in another program" error when someone else has added an entry to our
  // lock file (or replaced or removed it) since we took it.
  void checkAlone() const;

  // The entry we write: 32 bytes of computer name and 32 bytes of user name, NUL-padded.
  static std::string OwnEntry();

 private:
  JetLock(std::string databasePath, std::string lockPath, int fd, int databaseFd);

  std::string databasePath_;
  std::string lockPath_;
  int fd_;
  int databaseFd_;  // holds the flock on the database file
};

}  // namespace db::access::write
