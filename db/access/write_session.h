// The writing half of an Access session: CREATE TABLE, INSERT and DROP TABLE carried out by the
// JetWriter inside the pager's transactions, with the session's begin / commit / rollback.
//
// The pager (and with it the database's lock file) is opened on the first statement that writes,
// so a session that only reads never takes the lock. Transactions:
//   - a statement outside begin() .. commit() runs in a transaction of its own, committed at once
//     (or rolled back when it fails);
//   - begin() only marks the transaction; the pager's transaction starts with its first writing
//     statement, so a transaction of queries alone touches nothing;
//   - a statement refused before it changed a page leaves the transaction as it was; one that
//     fails after changing pages rolls the whole transaction back, and the statements and the
//     commit that follow are refused until rollback() ends it (half a statement is never kept);
//   - commit() writes the file through the pager's journal; the session is told through
//     `onCommitted` so that its reading side reopens the file and sees the change. A commit
//     that fails ends the transaction having kept nothing of it; the rollback() a caller makes
//     after it has nothing left to do and succeeds.
// Files that cannot be written are refused before anything is opened for writing: files or
// folders without write permission, sessions opened for reading only.
// A file whose structures do not hold together (the writer's survey at the start of each
// transaction, db/access/write/page_claims.h) is refused as damaged before anything is written:
// "Cannot write '<path>': the file is damaged: <what> (compact and repair it in Access)."
// Pages are written as the file stores them: Jet 3 and Jet 4 files whose pages are RC4-encoded
// with the database key are written encoded the same way, and encrypted .accdb files encrypted
// with the page codec their password opened (format/encryption.h). The writer sees plain pages;
// the pager and its journal only ever hold the file's stored bytes, so no plaintext reaches the
// disk.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "db/access/sql/parser.h"
#include "db/base/engine.h"
#include "db/base/error.h"
#include "db/access/write/file_env.h"
#include "db/access/format/encryption.h"
#include "db/access/format/header.h"

namespace db::access {

namespace write {
class DamagedFileError;
class JetPager;
class JetWriter;
}  // namespace write
class CodedPageIo;

class AccessWriteSession {
 public:
  // `codec` is the page codec of an encrypted .accdb file (nullptr for other files: the codec
  // of a page key, if any, comes from the header).
  AccessWriteSession(std::string path, format::JetHeader header, OpenMode mode,
                     write::FileEnv& env = write::DefaultFileEnv(),
                     std::shared_ptr<const format::PageCodec> codec = nullptr);
  // An open transaction is rolled back.
  ~AccessWriteSession();
  AccessWriteSession(const AccessWriteSession&) = delete;
  AccessWriteSession& operator=(const AccessWriteSession&) = delete;

  // Runs CREATE TABLE, INSERT or DROP TABLE. Throws db::Error.
  void execute(const sql::AccessStatement& statement);

  void begin();
  void commit();
  void rollback();
  bool inTransaction() const { return inTransaction_; }

  // Called after every commit that changed the file.
  std::function<void()> onCommitted;

 private:
  // Throws the refusal for a session or file that cannot be written.
  void requireWritable() const;
  // Opens the pager on first use and starts its transaction and writer when none is running.
  write::JetWriter& writer();
  void run(const sql::AccessStatement& statement);
  void commitPager();
  void endPagerTransaction();
  // The refusal of a damaged file, naming the file.
  Error Damaged(const write::DamagedFileError& e) const;

  std::string path_;
  format::JetHeader header_;
  OpenMode mode_;
  write::FileEnv& env_;
  std::unique_ptr<write::JetPager> pager_;
  std::shared_ptr<const format::PageCodec> codec_;
  std::unique_ptr<CodedPageIo> io_;
  std::unique_ptr<write::JetWriter> writer_;
  bool inTransaction_ = false;  // begin() was called
  bool aborted_ = false;        // a failed statement rolled the transaction back
  bool commitFailed_ = false;   // the last commit failed (and so kept nothing)
};

}  // namespace db::access
