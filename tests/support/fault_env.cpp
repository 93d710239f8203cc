#include "tests/support/fault_env.h"

#include <cerrno>

#include "db/base/error.h"

namespace testsupport {

using db::Error;
using db::access::write::ThrowIoError;
namespace errc = db::errc;

class FaultFile : public File {
 public:
  FaultFile(FaultEnv& env, std::unique_ptr<File> base) : env_(env), base_(std::move(base)) {}

  bool stillNamed() override { return base_->stillNamed(); }

  std::size_t read(std::uint64_t offset, void* buffer, std::size_t size) override {
    env_.enter(false);
    return base_->read(offset, buffer, size);
  }

  void write(std::uint64_t offset, const void* data, std::size_t size) override {
    std::uint64_t number = ++env_.writes_;
    if (env_.enter(true)) {
      if (env_.crashKind_ == FaultEnv::CrashKind::kTornWrite) {
        // A disk writes a sector whole: the whole sectors of the first half are written.
        constexpr std::uint64_t kSector = 512;
        std::uint64_t end = (offset + size / 2) / kSector * kSector;
        if (end > offset) base_->write(offset, data, static_cast<std::size_t>(end - offset));
      }
      env_.throwCrashed(path());
    }
    env_.remember(*base_, offset, size);
    if (number == env_.failWrite_) ThrowIoError("write", path(), EIO);
    std::uint64_t end = offset + size;
    std::uint64_t current = base_->size();
    if (end > current && env_.budget_ != FaultEnv::kNever) {
      std::uint64_t growth = end - current;
      if (growth > env_.budget_) {
        std::uint64_t fitsEnd = current + env_.budget_;  // the file may grow up to here
        if (fitsEnd > offset) base_->write(offset, data, fitsEnd - offset);
        env_.budget_ = 0;
        ThrowIoError("write", path(), ENOSPC);
      }
      env_.budget_ -= growth;
    }
    base_->write(offset, data, size);
  }

  void sync() override {
    std::uint64_t number = ++env_.syncs_;
    if (env_.enter(true)) env_.throwCrashed(path());
    if (number == env_.failSync_) ThrowIoError("sync", path(), EIO);
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

}  // namespace testsupport
