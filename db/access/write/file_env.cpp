#include "db/access/write/file_env.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "db/base/error.h"

namespace db::access::write {

void ThrowIoError(const std::string& what, const std::string& path, int err) {
  if (err == ENOSPC || err == EDQUOT)
    throw Error(errc::kFailed, "The disk is full: cannot " + what + " '" + path + "'.");
  throw Error(errc::kFailed,
              "Cannot " + what + " '" + path + "': " + std::string(std::strerror(err)) + ".");
}

namespace {

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
        ThrowIoError("read", path_, errno);
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
        ThrowIoError("write", path_, errno);
      }
      if (n == 0) ThrowIoError("write", path_, ENOSPC);
      done += static_cast<std::size_t>(n);
    }
  }

  void sync() override {
    while (::fsync(fd_) != 0) {
      if (errno != EINTR) ThrowIoError("sync", path_, errno);
    }
  }

  void truncate(std::uint64_t size) override {
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) ThrowIoError("truncate", path_, errno);
    }
  }

  std::uint64_t size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) ThrowIoError("read the size of", path_, errno);
    return static_cast<std::uint64_t>(st.st_size);
  }
  bool stillNamed() override { return DescriptorStillNamed(fd_, path_); }

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
      case FileMode::kRead:
        flags |= O_RDONLY;
        break;
      case FileMode::kReadWrite:
        flags |= O_RDWR;
        break;
      case FileMode::kCreate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    int fd;
    do {
      fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowIoError("open", path, errno);
    return std::make_unique<PosixFile>(fd, path);
  }

  bool exists(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return true;
    // A name too long for the file system names no file (a database whose name is near the
    // limit has no journal, and can still be read).
    if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) return false;
    ThrowIoError("look for", path, errno);
  }

  void remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) ThrowIoError("remove", path, errno);
  }

  void rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) ThrowIoError("rename", from, errno);
  }

  void syncFolderOf(const std::string& path) override {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = ".";
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) ThrowIoError("open the folder", folder.string(), errno);
    int rc;
    do {
      rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    int err = errno;
    ::close(fd);
    // Some file systems cannot sync a folder; their metadata is then as durable as it gets.
    if (rc != 0 && err != EINVAL && err != EROFS)
      ThrowIoError("sync the folder", folder.string(), err);
  }
};

}  // namespace

FileEnv& DefaultFileEnv() {
  static PosixEnv env;
  return env;
}

bool DescriptorStillNamed(int fd, const std::string& path) {
  struct stat open {
  }, named{};
  return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

void ReadExactly(File& file, std::uint64_t offset, void* buffer, std::size_t size) {
  if (file.read(offset, buffer, size) != size)
    throw Error(errc::kFailed, "Cannot read '" + file.path() + "': the file ends at byte " +
                                   std::to_string(file.size()) + ", before byte " +
                                   std::to_string(offset + size) + ".");
}

}  // namespace db::access::write
