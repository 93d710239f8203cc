// The pager of the Access writer: page access inside transactions, with a rollback journal that
// keeps the file whole across crashes, kills and full disks.
//
// Transactions. Pages changed or added inside a transaction stay in memory; the file is not
// touched before commit. Rollback therefore only forgets them. Commit:
//   1. writes the journal: the original bytes of every changed page that exists in the file,
//      and the file's original size; syncs it; then writes the journal header and syncs again
//      (and syncs the folder, which now holds the journal);
//   2. writes the changed and added pages into the database file and syncs it;
//   3. removes the journal and syncs the folder. The transaction is durable from here on.
// A failure in step 1 leaves the database file untouched; a failure in step 2 is undone at once
// from the originals (and, should that fail too, by the next opening from the journal). Either
// way the commit throws and the transaction is over, as if rolled back.
//
// Journal file: "<database path>-journal" (e.g. "C:/data/shop.mdb-journal"). All numbers are
// little-endian.
//   Header, 64 bytes:
//     0   8  magic: "RwsJrnl" and the byte 0x01
//     8   4  journal format version (1)
//     12  4  page size of the database
//     16  4  original page count (the original size divided by the page size)
//     20  8  original size of the database file in bytes
//     28  4  number of page records that follow
//     32  4  salt: a random number of this journal, mixed into every record checksum
//     36  4  CRC-32 of bytes 0..35
//     40 24  zero
//   Page records, one after the other from byte 64, each page size + 8 bytes:
//     0   4  page number
//     4   n  the page's original bytes
//     4+n 4  CRC-32 of the salt (4 bytes), the page number (4 bytes) and the page bytes
// The header is written last: a journal whose header is missing, short or fails its checksum
// was cut off before the database was touched. A hot journal (valid header) means the database
// may be half-written: recovery copies back every record up to the first one that is short or
// fails its checksum (a torn tail), truncates the file to its original size, syncs it and
// removes the journal.
//
// The pager holds the database's lock file (db/jet_lock.h) from opening to destruction, so it
// refuses to open a database that another program has open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/file_env.h"
#include "db/jet_lock.h"
#include "db/jet_page_io.h"

namespace db {

// "<databasePath>-journal".
std::string JournalPath(const std::string& databasePath);

// Puts the database back as it was before an interrupted commit, when a hot journal is beside
// it; removes a journal that is not hot. Must run before anything reads the file. Gives true
// when pages were restored. Takes the database's lock for the time it needs it, so it throws
// db::Error (and changes nothing) when another program has the database open while a journal
// is present; without a journal it does nothing at all.
bool RecoverHotJournal(const std::string& databasePath, FileEnv& env = DefaultFileEnv());

class JetPager : public PageIo {
 public:
  // Opens `path` for writing: takes its lock, recovers a hot journal, reads the page size from
  // page 0. Throws db::Error.
  static std::unique_ptr<JetPager> Open(const std::string& path, FileEnv& env = DefaultFileEnv());

  // An open transaction is rolled back.
  ~JetPager() override;
  JetPager(const JetPager&) = delete;
  JetPager& operator=(const JetPager&) = delete;

  const std::string& path() const { return path_; }
  std::size_t pageSize() const override { return pageSize_; }
  // The pages of the file, with those added by the open transaction.
  std::uint32_t pageCount() const override;
  std::vector<unsigned char> readPage(std::uint32_t page) const override;
  void writePage(std::uint32_t page, const std::vector<unsigned char>& data) override;
  std::uint32_t appendPage(const std::vector<unsigned char>& data) override;

  // One transaction at a time per database within this process: a second connection of the
  // process cannot begin while one is open. Begin also makes sure no other program has joined
  // the lock file since we opened.
  void begin();
  void commit();
  void rollback();
  bool inTransaction() const { return inTransaction_; }

 private:
  JetPager(std::string path, FileEnv& env, std::shared_ptr<JetLock> lock,
           std::unique_ptr<File> file, std::size_t pageSize);

  void requireTransaction(const char* what) const;
  void checkPageSize(const std::vector<unsigned char>& data) const;
  void endTransaction();
  // The steps of a commit: the journal of `originals`, the pages, and the undo of a failed one.
  void writeJournal(const std::map<std::uint32_t, std::vector<unsigned char>>& originals);
  void writePages();
  void restore(const std::map<std::uint32_t, std::vector<unsigned char>>& originals);

  std::string path_;
  FileEnv& env_;
  std::shared_ptr<JetLock> lock_;
  std::unique_ptr<File> file_;
  std::size_t pageSize_;

  bool inTransaction_ = false;
  bool journalMayBeHot_ = false;  // a failed commit could not clean up after itself
  std::uint64_t originalSize_ = 0;
  std::uint32_t originalPages_ = 0;
  std::uint32_t pageCount_ = 0;
  std::map<std::uint32_t, std::vector<unsigned char>> changed_;
};

}  // namespace db
