#include "db/access/write/file_env.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "db/error.h"

namespace db {
namespace {

[[noreturn]] void ThrowIo(const std::string& what, const std::string& path, int err) {
  if (err == ENOSPC || err == EDQUOT)
    throw Error(errc::kFailed, "The disk is full: cannot " + what + " '" + path + "'.");
  throw Error(errc::kFailed,
              "Cannot " + what + " '" + path + "': " + std::string(std::strerror(err)) + ".");
}

class PosixFile : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }

  std::size_t read(std::uint64_t offset, void* buffer, std::size_t size) override {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
      ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowIo("read", path_, errno);
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

  void write(std::uint64_t offset, const void* data, std::size_t size) override {
    const auto* in = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
      ssize_t n = ::pwrite(fd_, in + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowIo("write", path_, errno);
      }
      if (n == 0) ThrowIo("write", path_, ENOSPC);
      done += static_cast<std::size_t>(n);
    }
  }

  void sync() override {
    while (::fsync(fd_) != 0) {
      if (errno != EINTR) ThrowIo("sync", path_, errno);
    }
  }

  void truncate(std::uint64_t size) override {
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) ThrowIo("truncate", path_, errno);
    }
  }

  std::uint64_t size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) ThrowIo("read the size of", path_, errno);
    return static_cast<std::uint64_t>(st.st_size);
  }

  const std::string& path() const override { return path_; }

 private:
  int fd_;
  std::string path_;
};

class PosixEnv : public FileEnv {
 public:
  std::unique_ptr<File> open(const std::string& path, FileMode mode) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case FileMode::kRead: flags |= O_RDONLY; break;
      case FileMode::kReadWrite: flags |= O_RDWR; break;
      case FileMode::kCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    int fd;
    do {
      fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowIo("open", path, errno);
    return std::make_unique<PosixFile>(fd, path);
  }

  bool exists(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR) return false;
    ThrowIo("look for", path, errno);
  }

  void remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) ThrowIo("remove", path, errno);
  }

  void rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) ThrowIo("rename", from, errno);
  }

  void syncFolderOf(const std::string& path) override {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = ".";
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) ThrowIo("open the folder", folder.string(), errno);
    int rc;
    do {
      rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    int err = errno;
    ::close(fd);
    // Some file systems cannot sync a folder; their metadata is then as durable as it gets.
    if (rc != 0 && err != EINVAL && err != EROFS) ThrowIo("sync the folder", folder.string(), err);
  }
};

}  // namespace

FileEnv& DefaultFileEnv() {
  static PosixEnv env;
  return env;
}

void ReadExactly(File& file, std::uint64_t offset, void* buffer, std::size_t size) {
  if (file.read(offset, buffer, size) != size)
    throw Error(errc::kFailed, "Cannot read '" + file.path() + "': the file ends at byte " +
                                   std::to_string(file.size()) + ", before byte " +
                                   std::to_string(offset + size) + ".");
}

// ---- FaultEnv -------------------------------------------------------------------------------

class FaultFile : public File {
 public:
  FaultFile(FaultEnv& env, std::unique_ptr<File> base) : env_(env), base_(std::move(base)) {}

  std::size_t read(std::uint64_t offset, void* buffer, std::size_t size) override {
    env_.enter(false);
    return base_->read(offset, buffer, size);
  }

  void write(std::uint64_t offset, const void* data, std::size_t size) override {
    std::uint64_t number = ++env_.writes_;
    if (env_.enter(true)) {
      if (env_.crashKind_ == FaultEnv::CrashKind::kTornWrite && size > 1)
        base_->write(offset, data, size / 2);
      env_.throwCrashed(path());
    }
    env_.remember(*base_, offset, size);
    if (number == env_.failWrite_) ThrowIo("write", path(), EIO);
    std::uint64_t end = offset + size;
    std::uint64_t current = base_->size();
    if (end > current && env_.budget_ != FaultEnv::kNever) {
      std::uint64_t growth = end - current;
      if (growth > env_.budget_) {
        std::uint64_t fitsEnd = current + env_.budget_;  // the file may grow up to here
        if (fitsEnd > offset) base_->write(offset, data, fitsEnd - offset);
        env_.budget_ = 0;
        ThrowIo("write", path(), ENOSPC);
      }
      env_.budget_ -= growth;
    }
    base_->write(offset, data, size);
  }

  void sync() override {
    std::uint64_t number = ++env_.syncs_;
    if (env_.enter(true)) env_.throwCrashed(path());
    if (number == env_.failSync_) ThrowIo("sync", path(), EIO);
    base_->sync();
    env_.forgetUnsynced(path());
  }

  void truncate(std::uint64_t size) override {
    if (env_.enter(true)) env_.throwCrashed(path());
    std::uint64_t current = base_->size();
    env_.remember(*base_, std::min(size, current), current > size ? current - size : 0);
    base_->truncate(size);
  }

  std::uint64_t size() override {
    env_.enter(false);
    return base_->size();
  }

  const std::string& path() const override { return base_->path(); }

 private:
  FaultEnv& env_;
  std::unique_ptr<File> base_;
};

bool FaultEnv::enter(bool changing) {
  if (crashed_) throwCrashed("");
  if (!changing) return false;
  std::uint64_t index = operations_++;
  if (index == crashAt_) {
    crashed_ = true;
    if (crashKind_ == CrashKind::kLoseUnsynced) loseUnsynced();
    return true;
  }
  return false;
}

void FaultEnv::throwCrashed(const std::string& path) const {
  std::string where = path.empty() ? "" : " on '" + path + "'";
  throw Error(errc::kFailed, "Simulated crash: no more I/O" + where + ".");
}

void FaultEnv::remember(File& base, std::uint64_t offset, std::uint64_t length) {
  if (crashKind_ != CrashKind::kLoseUnsynced) return;
  Undo undo{offset, {}, base.size()};
  if (offset < undo.size) {
    undo.bytes.resize(std::min<std::uint64_t>(length, undo.size - offset));
    undo.bytes.resize(base.read(offset, undo.bytes.data(), undo.bytes.size()));
  }
  unsynced_[base.path()].push_back(std::move(undo));
}

void FaultEnv::loseUnsynced() {
  for (auto& [path, undos] : unsynced_) {
    if (!base_.exists(path)) continue;
    std::unique_ptr<File> file = base_.open(path, FileMode::kReadWrite);
    for (auto it = undos.rbegin(); it != undos.rend(); ++it) {
      if (!it->bytes.empty()) file->write(it->offset, it->bytes.data(), it->bytes.size());
      file->truncate(it->size);
    }
  }
  unsynced_.clear();
}

std::unique_ptr<File> FaultEnv::open(const std::string& path, FileMode mode) {
  if (enter(mode == FileMode::kCreate)) throwCrashed(path);
  if (mode == FileMode::kCreate && crashKind_ == CrashKind::kLoseUnsynced && base_.exists(path)) {
    std::unique_ptr<File> old = base_.open(path, FileMode::kRead);
    remember(*old, 0, old->size());  // emptying it is a change like any other
  }
  return std::make_unique<FaultFile>(*this, base_.open(path, mode));
}

bool FaultEnv::exists(const std::string& path) {
  enter(false);
  return base_.exists(path);
}

void FaultEnv::remove(const std::string& path) {
  if (enter(true)) throwCrashed(path);
  base_.remove(path);
  forgetUnsynced(path);
}

void FaultEnv::rename(const std::string& from, const std::string& to) {
  if (enter(true)) throwCrashed(from);
  base_.rename(from, to);
}

void FaultEnv::syncFolderOf(const std::string& path) {
  if (enter(true)) throwCrashed(path);
  base_.syncFolderOf(path);
}

}  // namespace db
