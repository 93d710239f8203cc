#include "db/access/write/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "db/access/write/file_env.h"
#include "db/base/error.h"

namespace fs = std::filesystem;

namespace db::access::write {
namespace {

constexpr std::size_t kFieldSize = 32;
constexpr char kOwnUserName[] = "Rowsifter";

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

// The locks this process holds, by the database's absolute path.
std::map<std::string, std::weak_ptr<JetLock>>& Registry() {
  static std::map<std::string, std::weak_ptr<JetLock>> registry;
  return registry;
}

std::string RegistryKey(const std::string& databasePath) {
  std::error_code ec;
  fs::path full = fs::weakly_canonical(fs::absolute(databasePath), ec);
  return ec ? fs::absolute(databasePath).string() : full.string();
}

[[noreturn]] void ThrowOpenElsewhere(const std::string& databasePath, const std::string& lockPath) {
  throw Error(errc::kFailed, "The database '" + databasePath +
                                 "' is open in another program (its lock file '" + lockPath +
                                 "' exists). Close it there and try again.");
}

[[noreturn]] void ThrowLockIo(const std::string& what, const std::string& lockPath, int err) {
  throw Error(errc::kFailed, "Cannot " + what + " the lock file '" + lockPath +
                                 "': " + std::string(std::strerror(err)) + ".");
}

std::string Field(std::string text) {
  if (text.size() > kFieldSize - 1) text.resize(kFieldSize - 1);
  text.resize(kFieldSize, '\0');
  return text;
}

std::string ComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

// Whether no other process holds an fcntl lock on the file; takes our write lock when so.
bool TryLock(int fd, const std::string& lockPath) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;  // the whole file, however long it gets
  while (::fcntl(fd, F_SETLK, &fl) != 0) {
    if (errno == EINTR) continue;
    if (errno == EACCES || errno == EAGAIN) return false;
    ThrowLockIo("lock", lockPath, errno);
  }
  return true;
}

std::string ReadAll(int fd, const std::string& lockPath) {
  std::string content;
  char buffer[4096];
  for (off_t offset = 0;;) {
    ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowLockIo("read", lockPath, errno);
    }
    if (n == 0) return content;
    content.append(buffer, static_cast<std::size_t>(n));
    offset += n;
    if (content.size() > (1u << 20)) return content;  // far more entries than any lock file has
  }
}

void WriteEntry(int fd, const std::string& lockPath) {
  std::string entry = JetLock::OwnEntry();
  if (::ftruncate(fd, 0) != 0) ThrowLockIo("write", lockPath, errno);
  if (::pwrite(fd, entry.data(), entry.size(), 0) != static_cast<ssize_t>(entry.size()))
    ThrowLockIo("write", lockPath, errno ? errno : ENOSPC);
}

}  // namespace

std::string ResolvedDatabasePath(const std::string& databasePath) {
  std::error_code ec;
  fs::path resolved = fs::canonical(databasePath, ec);
  return ec ? databasePath : resolved.string();
}

std::string LockFilePath(const std::string& databasePath) {
  fs::path path(ResolvedDatabasePath(databasePath));
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  bool ace = extension.rfind(".acc", 0) == 0;
  return path.replace_extension(ace ? ".laccdb" : ".ldb").string();
}

std::string JetLock::OwnEntry() { return Field(ComputerName()) + Field(kOwnUserName); }

std::shared_ptr<JetLock> JetLock::Acquire(const std::string& databasePath) {
  std::lock_guard<std::mutex> guard(RegistryMutex());
  std::string key = RegistryKey(databasePath);
  if (std::shared_ptr<JetLock> held = Registry()[key].lock()) return held;

  std::string lockPath = LockFilePath(databasePath);
  // A few rounds cover the races with another process of ours creating or removing the file.
  for (int round = 0; round < 20; ++round) {
    bool created = false;
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      if (errno != ENOENT) ThrowLockIo("open", lockPath, errno);
      fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        ThrowLockIo("create", lockPath, errno);
      }
      created = true;
    }
    bool locked = TryLock(fd, lockPath);
    // Another process of ours may have opened the file we just made and locked it first: it
    // finds the file empty, gives up and lets go in a moment.
    for (int wait = 0; created && !locked && wait < 100; ++wait) {
      ::usleep(10000);
      locked = TryLock(fd, lockPath);
    }
    if (!locked) {
      ::close(fd);
      ThrowOpenElsewhere(databasePath, lockPath);
    }
    int databaseFd = -1;
    try {
      if (!DescriptorStillNamed(fd, lockPath)) {
        ::close(fd);
        continue;
      }
      // An existing file is ours to take over only when a process of ours on this computer
      // left it: exactly our entry. Anything else (Access's entries, an empty file that its
      // creator has not filled yet) belongs to someone else.
      if (!created) {
        const std::string content = ReadAll(fd, lockPath);
        if (content.empty())
          throw Error(errc::kFailed, "The database '" + databasePath +
                                         "' may be open in another program: its lock file '" +
                                         lockPath +
                                         "' exists, empty. If no program has the database open, "
                                         "the lock file was left behind: remove it and try again.");
        if (content != OwnEntry()) ThrowOpenElsewhere(databasePath, lockPath);
      }
      // The same file under another name (a hard link) has another lock file: the flock on
      // the file itself is what such a process of ours meets.
      databaseFd = ::open(databasePath.c_str(), O_RDONLY | O_CLOEXEC);
      if (databaseFd < 0)
        throw Error(errc::kFailed, "Cannot open '" + databasePath +
                                       "': " + std::string(std::strerror(errno)) + ".");
      int flocked;
      while ((flocked = ::flock(databaseFd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
      }
      if (flocked != 0) {
        if (errno != EWOULDBLOCK) ThrowLockIo("lock the database beside", lockPath, errno);
        throw Error(errc::kFailed, "The database '" + databasePath +
                                       "' is being changed by another process of this program, "
                                       "which reached it under another name. Try again when "
                                       "it is done.");
      }
      WriteEntry(fd, lockPath);
    } catch (...) {
      if (created) ::unlink(lockPath.c_str());
      if (databaseFd >= 0) ::close(databaseFd);  // also gives up the flock
      ::close(fd);                               // and this the fcntl lock
      throw;
    }
    std::shared_ptr<JetLock> lock(new JetLock(databasePath, lockPath, fd, databaseFd));
    Registry()[key] = lock;
    return lock;
  }
  ThrowOpenElsewhere(databasePath, lockPath);
}

JetLock::JetLock(std::string databasePath, std::string lockPath, int fd, int databaseFd)
    : databasePath_(std::move(databasePath)),
      lockPath_(std::move(lockPath)),
      fd_(fd),
      databaseFd_(databaseFd) {}

JetLock::~JetLock() {
  std::lock_guard<std::mutex> guard(RegistryMutex());
  auto& registry = Registry();
  for (auto it = registry.begin(); it != registry.end();) {
    it = it->second.expired() ? registry.erase(it) : std::next(it);
  }
  // Remove the file only while it holds nothing but our entry: when Access has joined, the
  // file is its to remove.
  try {
    if (DescriptorStillNamed(fd_, lockPath_) && ReadAll(fd_, lockPath_) == OwnEntry())
      ::unlink(lockPath_.c_str());
  } catch (const Error&) {
    // An unreadable lock file is left where it is; a later opening takes it over.
  }
  ::close(databaseFd_);
  ::close(fd_);
}

void JetLock::checkAlone() const {
  if (!DescriptorStillNamed(fd_, lockPath_) || ReadAll(fd_, lockPath_) != OwnEntry())
    ThrowOpenElsewhere(databasePath_, lockPath_);
}

}  // namespace db::access::write
