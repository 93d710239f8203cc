#include "db/access/write_session.h"

#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <map>
#include <variant>

#include "db/access/format/pages.h"
#include "db/base/error.h"
#include "db/access/write/page_claims.h"
#include "db/access/write/pager.h"
#include "db/access/write/writer.h"

namespace db::access {

using format::JetHeader;
using format::PageIo;
using namespace db::access::sql;
using write::DamagedFileError;
using write::FileEnv;
using write::JetPager;
using write::JetWriter;

namespace {

const char kFormatRefusal[] = "Writing to this database format is not supported.";
const char kAbortedText[] =
    "The transaction was rolled back after an earlier failure; nothing of it was kept.";

// True when no one has the right to write `path` by its permission bits. Checked by the bits
// rather than by access(2), which lets a superuser past a read-only file.
bool NoWriteBits(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;  // the opening names the real problem
  return (st.st_mode & 0222) == 0;
}

}  // namespace

// The pager's pages as the writer sees them: decoded by the file's page codec when its pages
// are stored encoded (page 0 never is), and counted, so that a failed statement is known to have
// changed something. The pager below only ever holds pages as the file stores them.
//
// The writer reads and rewrites the same few pages for every row it inserts, so with a codec the
// plain pages are kept here: the pages the transaction changed (the pager holds their stored
// bytes until the commit anyway), encoded into the pager once, by flush() before the commit;
// and the last pages read. A page added by the transaction is reserved in the pager as a page of
// zeros until then, so the pager never holds plaintext, even for a moment.
class CodedPageIo : public PageIo {
 public:
  CodedPageIo(PageIo& base, const format::PageCodec* codec) : base_(base), codec_(codec) {}

  std::size_t pageSize() const override { return base_.pageSize(); }
  std::uint32_t pageCount() const override { return base_.pageCount(); }
  std::vector<unsigned char> readPage(std::uint32_t page) const override {
    if (!codec_) return base_.readPage(page);
    if (auto it = dirty_.find(page); it != dirty_.end()) return it->second;
    for (const Clean& c : clean_)
      if (c.page == page && !c.bytes.empty()) return c.bytes;
    std::vector<unsigned char> data = base_.readPage(page);
    codec_->decode(page, data);
    Clean& slot = clean_[nextClean_++ % clean_.size()];
    slot.page = page;
    slot.bytes = data;
    return data;
  }
  void writePage(std::uint32_t page, const std::vector<unsigned char>& data) override {
    ++changes_;
    if (!codec_) return base_.writePage(page, data);
    if (page >= base_.pageCount() || data.size() != base_.pageSize())
      return base_.writePage(page, data);  // the pager's refusal
    forgetClean(page);
    dirty_[page] = data;
  }
  std::uint32_t appendPage(const std::vector<unsigned char>& data) override {
    ++changes_;
    if (!codec_) return base_.appendPage(data);
    if (data.size() != base_.pageSize()) return base_.appendPage(data);  // the pager's refusal
    std::uint32_t page = base_.appendPage(std::vector<unsigned char>(data.size(), 0));
    forgetClean(page);
    dirty_[page] = data;
    return page;
  }

  // Hands the changed pages to the pager, encoded. Before the pager's commit.
  void flush() {
    for (auto& [page, data] : dirty_) {
      codec_->encode(page, data);
      base_.writePage(page, data);
    }
    dirty_.clear();
  }

  std::uint64_t changes() const { return changes_; }

 private:
  struct Clean {
    std::uint32_t page = 0;
    std::vector<unsigned char> bytes;  // empty: no page
  };
  void forgetClean(std::uint32_t page) {
    for (Clean& c : clean_)
      if (c.page == page) c.bytes.clear();
  }

  PageIo& base_;
  const format::PageCodec* codec_;
  std::uint64_t changes_ = 0;
  std::map<std::uint32_t, std::vector<unsigned char>> dirty_;
  mutable std::array<Clean, 32> clean_;
  mutable std::size_t nextClean_ = 0;
};

AccessWriteSession::AccessWriteSession(std::string path, JetHeader header, OpenMode mode,
                                       FileEnv& env, std::shared_ptr<const format::PageCodec> codec)
    : path_(std::move(path)),
      header_(std::move(header)),
      mode_(mode),
      env_(env),
      codec_(std::move(codec)) {
  // A Jet page key's codec needs nothing but the key (OpenPageCodec reads no page for it).
  if (!codec_ && header_.pageKey != 0 && !header_.isAce())
    codec_ = format::OpenPageCodec(header_, nullptr, 0, {});
}

AccessWriteSession::~AccessWriteSession() {
  writer_.reset();
  io_.reset();
  // The pager rolls back an open transaction itself when it goes.
}

void AccessWriteSession::requireWritable() const {
  if ((header_.isOfficeEncrypted() && !codec_) ||
      header_.pageSize != (header_.isJet3() ? format::kJet3PageSize : format::kPageSize))
    throw Error(errc::kNotSupported, kFormatRefusal);
  if (mode_ == OpenMode::Read)
    throw Error(errc::kNotSupported,
                "The database '" + path_ + "' was opened for reading only; it cannot be changed.");
  if (NoWriteBits(path_))
    throw Error(errc::kFailed, "Cannot write '" + path_ + "': the file is read-only.");
  std::string folder = std::filesystem::path(path_).parent_path().string();
  if (NoWriteBits(folder.empty() ? "." : folder))
    throw Error(errc::kFailed, "Cannot write '" + path_ +
                                   "': its folder is read-only, so the lock file cannot be made.");
}

JetWriter& AccessWriteSession::writer() {
  if (writer_) return *writer_;
  if (!pager_) pager_ = JetPager::Open(path_, env_);
  pager_->begin();
  io_ = std::make_unique<CodedPageIo>(*pager_, codec_.get());
  writer_ = std::make_unique<JetWriter>(*io_);
  return *writer_;
}

void AccessWriteSession::run(const AccessStatement& statement) {
  JetWriter* started = nullptr;
  try {
    started = &writer();
  } catch (const DamagedFileError& e) {
    // The survey of the file refused it before anything was written.
    endPagerTransaction();
    throw Damaged(e);
  } catch (...) {
    endPagerTransaction();
    throw;
  }
  JetWriter& w = *started;
  std::uint64_t before = io_->changes();
  try {
    if (const auto* create = std::get_if<CreateTableStatement>(&statement)) {
      w.createTable(*create);
    } else if (const auto* insert = std::get_if<InsertStatement>(&statement)) {
      w.insert(*insert);
    } else if (const auto* drop = std::get_if<DropTableStatement>(&statement)) {
      w.dropTable(*drop);
    } else {
      throw Error(errc::kFailed, "The statement does not change the database.");
    }
  } catch (...) {
    // The writer refuses a statement before its first change; a failure after it leaves pages
    // of a half-done statement in the transaction, which must not reach the file.
    if (io_->changes() != before) {
      endPagerTransaction();
      if (inTransaction_) aborted_ = true;
    }
    try {
      throw;
    } catch (const DamagedFileError& e) {
      throw Damaged(e);
    }
  }
}

Error AccessWriteSession::Damaged(const DamagedFileError& e) const {
  return BadFormatError("Cannot write '" + path_ + "': the file is damaged: " + e.detail() +
                        " (compact and repair it in Access).");
}

void AccessWriteSession::execute(const AccessStatement& statement) {
  commitFailed_ = false;
  // Checked when a transaction starts writing; its later statements write through the pager
  // that this check let open.
  if (!writer_) requireWritable();
  if (aborted_) throw Error(errc::kTransactionEnded, kAbortedText);
  if (inTransaction_) return run(statement);
  try {
    run(statement);
  } catch (...) {
    endPagerTransaction();
    throw;
  }
  commitPager();
}

void AccessWriteSession::begin() {
  if (inTransaction_) throw Error(errc::kFailed, "A transaction is already open.");
  inTransaction_ = true;
  aborted_ = false;
  commitFailed_ = false;
}

void AccessWriteSession::commit() {
  if (!inTransaction_) throw Error(errc::kFailed, "No transaction is open.");
  inTransaction_ = false;
  commitFailed_ = true;  // until the commit is through
  if (aborted_) {
    aborted_ = false;
    throw Error(errc::kTransactionEnded, kAbortedText);
  }
  commitPager();
  commitFailed_ = false;
}

void AccessWriteSession::rollback() {
  if (!inTransaction_ && commitFailed_) {
    commitFailed_ = false;  // the failed commit kept nothing: there is nothing to roll back
    return;
  }
  if (!inTransaction_) throw Error(errc::kFailed, "No transaction is open.");
  inTransaction_ = false;
  aborted_ = false;
  endPagerTransaction();
}

void AccessWriteSession::commitPager() {
  if (!writer_) return;  // nothing was written
  writer_.reset();
  try {
    io_->flush();
  } catch (...) {
    endPagerTransaction();
    throw;
  }
  io_.reset();
  pager_->commit();  // on failure the pager has ended the transaction as if rolled back
  if (onCommitted) onCommitted();
}

void AccessWriteSession::endPagerTransaction() {
  writer_.reset();
  io_.reset();
  if (pager_ && pager_->inTransaction()) pager_->rollback();
}

}  // namespace db::access
