// The file seam of the Access writer: every byte the pager reads or writes, every sync and every
// removal goes through a FileEnv, so that tests can make any of them fail or stop the "machine"
// at any point. DefaultFileEnv() works on the real file system (POSIX); the tests' FaultEnv
// (tests/support/fault_env.h) wraps another environment and injects failures.
//
// All operations throw db::Error on failure; a full disk gives a description that says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace db::access::write {

// One open file. Offsets and sizes are in bytes.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `size` bytes at `offset`; gives the number read (fewer only at the end of the
  // file).
  virtual std::size_t read(std::uint64_t offset, void* buffer, std::size_t size) = 0;
  // Writes all `size` bytes at `offset`, growing the file when needed.
  virtual void write(std::uint64_t offset, const void* data, std::size_t size) = 0;
  // Makes what was written so far durable.
  virtual void sync() = 0;
  virtual void truncate(std::uint64_t size) = 0;
  virtual std::uint64_t size() = 0;
  virtual const std::string& path() const = 0;
  // Whether path() still names this open file: false once it was removed, or another file was
  // put in its place, since it was opened.
  virtual bool stillNamed() { return true; }
};

enum class FileMode {
  kRead,       // an existing file, read only
  kReadWrite,  // an existing file, read and write
  kCreate,     // read and write; created when missing, emptied when present
};

class FileEnv {
 public:
  virtual ~FileEnv() = default;
  virtual std::unique_ptr<File> open(const std::string& path, FileMode mode) = 0;
  virtual bool exists(const std::string& path) = 0;
  virtual void remove(const std::string& path) = 0;
  virtual void rename(const std::string& from, const std::string& to) = 0;
  // Makes the creation, removal or renaming of files in the folder that holds `path` durable.
  virtual void syncFolderOf(const std::string& path) = 0;
};

// The real file system. One shared instance.
FileEnv& DefaultFileEnv();

// Whether the open descriptor `fd` is the file `path` names now (POSIX): false once that file was
// removed, or another was put in its place.
bool DescriptorStillNamed(int fd, const std::string& path);

// Reads exactly `size` bytes at `offset` or throws (naming the file) when the file ends first.
void ReadExactly(File& file, std::uint64_t offset, void* buffer, std::size_t size);

// Throws the error the real environment gives when `what` ("write", "sync", ...) fails on
// `path` with the system error `err` (ENOSPC and EDQUOT: a full disk). Environments that stand
// in for it fail with the same texts.
[[noreturn]] void ThrowIoError(const std::string& what, const std::string& path, int err);

}  // namespace db::access::write
