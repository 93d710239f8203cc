// A fault-injecting file environment for the tests of the Access writer's pager and of what
// runs over it (db/access/write/file_env.h is the seam it plugs into).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/access/write/file_env.h"
#include "tests/support/fault_env.h"

namespace testsupport {

using db::access::write::DefaultFileEnv;
using db::access::write::File;
using db::access::write::FileEnv;
using db::access::write::FileMode;

// A FileEnv that wraps another and injects failures. It counts the operations that change something
// on disk (write, sync, truncate, remove, rename, folder sync, opening with kCreate) and can:
//   - fail the Nth write or the Nth sync (counting from 1) with an I/O error, once;
//   - fail writes that grow files once a byte budget of growth is spent, as a full disk does
//     (the part that still fits is written);
//   - "crash" at the Kth changing operation (counting from 0): that operation and every later
//     operation of any kind fail and change nothing, so the files hold exactly what was done
//     before. With torn writes on, a crashing write leaves the whole 512-byte sectors of the
//     first half of its bytes (a disk writes a sector whole). With lost writes on, the crash
//     also undoes every write and truncation made to a file since its last sync, as a power
//     failure may (creations and removals of files stay done).
class FaultEnv : public FileEnv {
 public:
  static constexpr std::uint64_t kNever = ~std::uint64_t{0};

  explicit FaultEnv(FileEnv& base = DefaultFileEnv()) : base_(base) {}

  void failWriteNumber(std::uint64_t n) { failWrite_ = n; }
  void failSyncNumber(std::uint64_t n) { failSync_ = n; }
  void setGrowthBudget(std::uint64_t bytes) { budget_ = bytes; }
  enum class CrashKind { kClean, kTornWrite, kLoseUnsynced };
  void crashAtOperation(std::uint64_t k, CrashKind kind = CrashKind::kClean) {
    crashAt_ = k;
    crashKind_ = kind;
  }

  // Changing operations done (or attempted) so far.
  std::uint64_t operations() const { return operations_; }
  bool crashed() const { return crashed_; }

  std::unique_ptr<File> open(const std::string& path, FileMode mode) override;
  bool exists(const std::string& path) override;
  void remove(const std::string& path) override;
  void rename(const std::string& from, const std::string& to) override;
  void syncFolderOf(const std::string& path) override;

 private:
  friend class FaultFile;
  // Called before every operation; `changing` ones are counted and may be the crash point.
  // Gives true when this operation is the crash point (the caller may tear a write first).
  bool enter(bool changing);
  [[noreturn]] void throwCrashed(const std::string& path) const;
  // Before-images of the unsynced changes of each file, for a crash that loses them.
  struct Undo {
    std::uint64_t offset;
    std::string bytes;   // what was there before, within the old size
    std::uint64_t size;  // the file's size before the change
  };
  void remember(File& base, std::uint64_t offset, std::uint64_t length);
  void forgetUnsynced(const std::string& path) { unsynced_.erase(path); }
  void loseUnsynced();

  FileEnv& base_;
  std::uint64_t failWrite_ = kNever;
  std::uint64_t failSync_ = kNever;
  std::uint64_t budget_ = kNever;
  std::uint64_t crashAt_ = kNever;
  CrashKind crashKind_ = CrashKind::kClean;
  std::map<std::string, std::vector<Undo>> unsynced_;
  std::uint64_t operations_ = 0;
  std::uint64_t writes_ = 0;
  std::uint64_t syncs_ = 0;
  bool crashed_ = false;
};

}  // namespace testsupport
