// The pager of the Access writer: page access inside transactions, with a rollback journal that
// keeps the file whole across crashes, kills and full disks, and that is played back only into
// the file it was written for.
//
// Transactions. Pages changed or added inside a transaction stay in memory; the file is not
// touched before commit. Rollback therefore only forgets them. Commit:
//   1. writes the journal: for every page the commit will write, the checksums of its new
//      content, and for every changed page that exists, its original bytes; syncs it; then
//      writes the journal header and syncs again (and syncs the folder, which now holds the
//      journal);
//   2. writes the changed and added pages into the database file and syncs it;
//   3. removes the journal and syncs the folder. The transaction is durable from here on.
// A failure in step 1 leaves the database file untouched; a failure in step 2 is undone at once
// from the originals (and, should that fail too, by the next opening from the journal). Either
// way the commit throws and the transaction is over, as if rolled back.
//
// Journal file: "<database path>-journal" (e.g. "C:/data/shop.mdb-journal"). All numbers are
// little-endian. A sector is 512 bytes; a page of n bytes has s = n / 512 of them. A sector's
// checksum is the CRC-32 of its 512 bytes.
//   Header, 64 bytes:
//     0   8  magic: "RwsJrnl" and the byte 0x01
//     8   4  journal format version (2)
//     12  4  page size n of the database
//     16  4  original page count (the original size divided by the page size)
//     20  8  original size of the database file in bytes
//     28  4  number of original records
//     32  4  salt: a random number of this journal, mixed into every record checksum
//     36  4  committed page count: the page count once the commit is written
//     40  8  committed size in bytes (the committed page count times the page size)
//     48  4  sector size (512)
//     52  4  CRC-32 of bytes 0..51
//     56  8  zero
//   Added-page records, from byte 64, one for every page the commit appends (the pages from the
//   original page count up to the committed page count, in order), each 4 * s + 8 bytes:
//     0   4  page number
//     4 4*s  the checksums of the page's new sectors
//     ..  4  CRC-32 of the salt (4 bytes), the page number (4 bytes) and the checksums
//   Original records, after them, one for every existing page the commit changes, by page
//   number, each n + 4 * s + 8 bytes:
//     0   4  page number
//     4   n  the page's original bytes
//     4+n 4*s  the checksums of the page's new sectors
//     ..  4  CRC-32 of the salt, the page number, the original bytes and the checksums
// Version 1 (which some journals on disk may still be) had a 36-byte checked header with the
// same first 36 bytes, no committed size and no checksums of new content.
//
// Recovery (RecoverHotJournal at every opening, JetPager::Open, and the next transaction after
// a commit that could not clean up after itself), under the database's lock:
//   - No journal: nothing to do.
//   - A journal whose header reads as zeros (or that is too short to hold anything else) was
//     cut off before the database was touched (the header is written last, into one sector,
//     which a disk writes whole): it is removed.
//   - A version-2 journal is checked against the file (below). When the file fits, every
//     record's original bytes are written back, the file is cut to its original size and
//     synced, and the journal is removed.
//   - Any other journal is set aside: a file that does not fit; a journal damaged since it was
//     written (a header that fails its checksum, a record short or failing its checksum: every
//     record is durable before the header is written); a file of other bytes, or no file at
//     all (a pipe, a device); a version-1 journal, which records nothing to check the file
//     against; a version or header this program cannot read. It is renamed to
//     "<journal>.stale" (or ".stale-2", ".stale-3", ... when that is taken), the folder is
//     synced, and the opening throws a db::Error that names both files, says that nothing was
//     played back and where the journal went. The database is neither written nor opened for
//     writing. The next opening finds no journal and goes on.
//
// The check. The file fits the journal when
//   a. its size lies between the original size and the committed size, both included;
//   b. every sector of every page with a whole original record holds either the original bytes
//      or bytes with the checksum of the new content;
//   c. every whole sector past the original size holds zeros or bytes with the checksum of the
//      new content. The file's last sector, when the file ends inside it, is not checked.
// A journal is played whole or not at all: playing part of one would leave a file that is
// neither the one before the commit nor the one after it.
//
// Invariants:
//   1. Nothing reaches the database before a journal with a valid header, covering every page
//      the commit writes, is durable.
//   2. Every state a crash, kill or power failure can leave at any step of a commit or of a
//      recovery fits its journal. The commit only turns sectors of journalled pages from
//      original to new, only writes pages up to the committed size and never cuts the file
//      below its original size; a recovery only turns them back and cuts the file to its
//      original size. What a crash leaves of that: writes done or not, a torn write (whole
//      sectors of it: a disk writes a sector whole), unsynced writes lost (the old sectors, and
//      zeros where the file had grown: a file system never shows bytes that were not written
//      to the file), in any combination. The recovery can be cut off and run again.
//   3. Playing back changes only what the interrupted commit wrote: it writes original bytes
//      over sectors that hold the original or the new content, and cuts off, past the original
//      size, sectors that hold new content or zeros (and the part of a sector the file may end
//      in).
//   4. A file put in place of the one the journal was written for fails the check, near
//      certainly. The writer's commits change existing pages that hold the database's own
//      state: the catalogue's rows with the dates the objects were created and changed, the
//      file's page map, the row count in a table's definition. Another database of the same
//      name has other bytes on those pages; a later copy of the same database carries there the
//      rows, dates and counts of the commits since. A sector that differs from both the original
//      and the new content passes only when its CRC-32 equals the new content's: never when the
//      difference spans 32 bits or fewer (CRC-32 detects every such burst), otherwise once in
//      2^32. A file that passes all the same holds, in every sector the commit wrote, exactly
//      the bytes from before or after it; playing back puts those sectors back as they were
//      before it and touches nothing else (3): it undoes that commit, and only that commit.
//   5. A journal that does not fit or cannot be checked is never played and never removed: it
//      is renamed aside, never over another journal, and the database stays byte-identical.
//
// The pager holds the database's lock file (db/access/write/lock_file.h) from opening to
// destruction, so it refuses to open a database that another program has open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/access/write/file_env.h"
#include "db/access/write/lock_file.h"
#include "db/access/format/page_io.h"

namespace db::access::write {

using namespace db::access::format;

// "<databasePath>-journal", beside the file itself (symbolic links resolved).
std::string JournalPath(const std::string& databasePath);

// Puts the database back as it was before an interrupted commit, when a hot journal written for
// it is beside it; removes a journal that was cut off before the database was touched. Must run
// before anything reads the file. Gives true when a journal was played back. A journal that
// does not fit the file, or cannot be checked against it, is renamed aside unplayed and the
// call throws db::Error saying so (once: the next call finds no journal). Takes the database's
// lock for the time it needs it, so it throws db::Error (and changes nothing) when another
// program has the database open while a journal is present; without a journal it does nothing
// at all.
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
  void requireStillNamed() const;
  void checkPageSize(const std::vector<unsigned char>& data) const;
  void endTransaction();
  // The steps of a commit: the journal of `originals`, the pages, and the undo of a failed one.
  void writeJournal(const std::map<std::uint32_t, std::vector<unsigned char>>& originals);
  void writePages();
  void restore(const std::map<std::uint32_t, std::vector<unsigned char>>& originals);

  std::string path_;
  std::string journalPath_;  // JournalPath(path_), found once
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

}  // namespace db::access::write
