#include "db/access/write/pager.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <set>

#include "db/access/format/bytes.h"
#include "db/base/error.h"
#include "db/access/format/header.h"

namespace db::access::write {
namespace {

constexpr unsigned char kMagic[8] = {'R', 'w', 's', 'J', 'r', 'n', 'l', 0x01};
constexpr std::uint32_t kFormatVersion = 2;
constexpr std::uint32_t kFirstFormatVersion = 1;  // no identity: never played
constexpr std::size_t kHeaderSize = 64;
constexpr std::size_t kHeaderChecked = 52;       // bytes covered by the header checksum
constexpr std::size_t kFirstHeaderChecked = 36;  // the same in version 1
constexpr std::size_t kSector = 512;
constexpr std::size_t kFirstPageBytes = kEncryptedStart + kEncryptedSize;  // for ParseJetHeader
constexpr std::size_t kWriteChunk = 1 << 20;  // pages are written in runs up to this
constexpr int kMaxStaleJournals = 1000;       // ".stale" up to ".stale-1000"

// CRC-32 (the reflected polynomial 0xEDB88320), table built at compile time.
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

std::uint32_t CrcUpdate(std::uint32_t crc, const unsigned char* data, std::size_t size) {
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

struct JournalHeader {
  std::uint32_t pageSize = 0;
  std::uint32_t originalPages = 0;
  std::uint64_t originalSize = 0;
  std::uint32_t records = 0;  // original records
  std::uint32_t salt = 0;
  std::uint32_t committedPages = 0;
  std::uint64_t committedSize = 0;

  std::size_t sectors() const { return pageSize / kSector; }
  std::uint32_t addedPages() const { return committedPages - originalPages; }
  std::size_t addedRecordSize() const { return 8 + 4 * sectors(); }
  std::size_t originalRecordSize() const { return pageSize + 8 + 4 * sectors(); }
  std::uint64_t addedRecordAt(std::uint32_t i) const {
    return kHeaderSize + std::uint64_t{i} * addedRecordSize();
  }
  std::uint64_t originalRecordAt(std::uint32_t i) const {
    return addedRecordAt(addedPages()) + std::uint64_t{i} * originalRecordSize();
  }
};

bool IsZero(const unsigned char* data, std::size_t size) {
  return std::all_of(data, data + size, [](unsigned char c) { return c == 0; });
}

std::array<unsigned char, kHeaderSize> EncodeHeader(const JournalHeader& h) {
  std::array<unsigned char, kHeaderSize> bytes{};
  std::memcpy(bytes.data(), kMagic, sizeof kMagic);
  Put32(&bytes[8], kFormatVersion);
  Put32(&bytes[12], h.pageSize);
  Put32(&bytes[16], h.originalPages);
  Put64(&bytes[20], h.originalSize);
  Put32(&bytes[28], h.records);
  Put32(&bytes[32], h.salt);
  Put32(&bytes[36], h.committedPages);
  Put64(&bytes[40], h.committedSize);
  Put32(&bytes[48], kSector);
  Put32(&bytes[kHeaderChecked], CrcUpdate(0, bytes.data(), kHeaderChecked));
  return bytes;
}

enum class HeaderState {
  kCutOff,     // not written yet (zeros, or a file too short to hold any): the database was not
               // touched
  kReadable,   // a version-2 header whose values make sense
  kUnreadable  // anything else: it cannot be used to check the file; `why` says what it is
};

HeaderState DecodeHeader(File& journal, JournalHeader& h, std::string& why) {
  std::array<unsigned char, kHeaderSize> bytes{};
  std::size_t got = journal.read(0, bytes.data(), bytes.size());
  // The header goes into its sector in one write, after everything else is durable: before
  // that it reads as zeros. A header of other bytes, or one that fails its checksum, was
  // damaged or written by something else.
  if (IsZero(bytes.data(), got)) return HeaderState::kCutOff;
  why =
      "its header is damaged, or it is not a journal of this program (if this program was cut "
      "off while changing the file, the file may hold part of that change)";
  if (got != bytes.size() || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    return HeaderState::kUnreadable;
  std::uint32_t version = Get32(&bytes[8]);
  if (version == kFirstFormatVersion) {
    if (Get32(&bytes[kFirstHeaderChecked]) != CrcUpdate(0, bytes.data(), kFirstHeaderChecked))
      return HeaderState::kUnreadable;
    why =
        "it comes from an earlier version of this program, which did not record what file a "
        "journal was written for (if that version was cut off while changing this file, the "
        "file may hold part of that change)";
    return HeaderState::kUnreadable;
  }
  if (version != kFormatVersion) {
    why = "it is a journal of format " + std::to_string(version) +
          ", which this version of the program cannot read";
    return HeaderState::kUnreadable;
  }
  if (Get32(&bytes[kHeaderChecked]) != CrcUpdate(0, bytes.data(), kHeaderChecked))
    return HeaderState::kUnreadable;
  h.pageSize = Get32(&bytes[12]);
  h.originalPages = Get32(&bytes[16]);
  h.originalSize = Get64(&bytes[20]);
  h.records = Get32(&bytes[28]);
  h.salt = Get32(&bytes[32]);
  h.committedPages = Get32(&bytes[36]);
  h.committedSize = Get64(&bytes[40]);
  bool powerOfTwo =
      h.pageSize >= kSector && h.pageSize <= 65536 && (h.pageSize & (h.pageSize - 1)) == 0;
  if (powerOfTwo && Get32(&bytes[48]) == kSector &&
      h.originalSize == std::uint64_t{h.originalPages} * h.pageSize &&
      h.committedSize == std::uint64_t{h.committedPages} * h.pageSize &&
      h.committedPages >= h.originalPages && h.records <= h.originalPages)
    return HeaderState::kReadable;
  why = "its header does not make sense";
  return HeaderState::kUnreadable;
}

// The checksums of a page's sectors.
std::vector<std::uint32_t> SectorChecksums(const unsigned char* page, std::size_t pageSize) {
  std::vector<std::uint32_t> sums(pageSize / kSector);
  for (std::size_t k = 0; k < sums.size(); ++k) sums[k] = CrcUpdate(0, page + k * kSector, kSector);
  return sums;
}

// The checksum of a record: the salt and the page number, then its bytes up to the checksum.
std::uint32_t RecordChecksum(std::uint32_t salt, std::uint32_t page, const unsigned char* data,
                             std::size_t size) {
  unsigned char prefix[8];
  Put32(prefix, salt);
  Put32(prefix + 4, page);
  return CrcUpdate(CrcUpdate(0, prefix, sizeof prefix), data, size);
}

// Appends a record to `out`: the page number, `original` (none for an added page), the
// checksums of `page`'s sectors, and the record's checksum.
void AppendRecord(std::vector<unsigned char>& out, std::uint32_t salt, std::uint32_t number,
                  const std::vector<unsigned char>* original,
                  const std::vector<unsigned char>& page) {
  std::size_t at = out.size();
  std::size_t originalSize = original ? original->size() : 0;
  std::vector<std::uint32_t> sums = SectorChecksums(page.data(), page.size());
  out.resize(at + 4 + originalSize + 4 * sums.size() + 4);
  unsigned char* p = &out[at];
  Put32(p, number);
  if (original) std::memcpy(p + 4, original->data(), originalSize);
  for (std::size_t k = 0; k < sums.size(); ++k) Put32(p + 4 + originalSize + 4 * k, sums[k]);
  std::size_t body = 4 + originalSize + 4 * sums.size();
  Put32(p + body, RecordChecksum(salt, number, p + 4, body - 4));
}

// Reads the record of `size` bytes at `offset` into `record`; false when it is short or fails
// its checksum.
bool ReadRecord(File& journal, const JournalHeader& h, std::uint64_t offset,
                std::vector<unsigned char>& record, std::size_t size) {
  record.resize(size);
  if (journal.read(offset, record.data(), size) != size) return false;
  return Get32(&record[size - 4]) ==
         RecordChecksum(h.salt, Get32(record.data()), record.data() + 4, size - 8);
}

// A whole original record: its page and where its original bytes and checksums are.
struct OriginalRecord {
  std::uint32_t page = 0;
  const unsigned char* original = nullptr;
  const unsigned char* sums = nullptr;  // 4 bytes a sector
};

// Reads original record `i`, which must name an existing page after `previous` (the page of
// record i - 1, or none for the first); false when it is short, damaged or out of place.
bool ReadOriginalRecord(File& journal, const JournalHeader& h, std::uint32_t i,
                        std::optional<std::uint32_t> previous, std::vector<unsigned char>& record,
                        OriginalRecord& out) {
  if (!ReadRecord(journal, h, h.originalRecordAt(i), record, h.originalRecordSize())) return false;
  out.page = Get32(record.data());
  out.original = record.data() + 4;
  out.sums = record.data() + 4 + h.pageSize;
  return out.page < h.originalPages && (!previous || out.page > *previous);
}

// The outcome of checking a file against its journal.
struct Fit {
  std::optional<std::string> damage;  // why the journal itself cannot be trusted
  std::optional<std::string> misfit;  // why the file is not the one the journal was written for
};

// The check described in the header: does `database` hold a state that the commit recorded in
// the journal can have left?
Fit CheckFit(File& journal, const JournalHeader& h, File& database) {
  Fit fit;
  const std::uint64_t size = database.size();
  if (size < h.originalSize || size > h.committedSize) {
    fit.misfit = "the file is " + std::to_string(size) +
                 " bytes long, while the change the journal records leaves it between " +
                 std::to_string(h.originalSize) + " and " + std::to_string(h.committedSize) +
                 " bytes";
    return fit;
  }
  const std::size_t sectors = h.sectors();
  std::vector<unsigned char> record;

  // The checksums of the added pages. Every record was durable before the header was written,
  // so one that is short or fails its checksum was damaged since.
  std::vector<std::uint32_t> addedSums;
  for (std::uint32_t i = 0; i < h.addedPages(); ++i) {
    if (!ReadRecord(journal, h, h.addedRecordAt(i), record, h.addedRecordSize()) ||
        Get32(record.data()) != h.originalPages + i) {
      fit.damage = "its record of new page " + std::to_string(i + 1) + " is cut short or damaged";
      return fit;
    }
    for (std::size_t k = 0; k < sectors; ++k) addedSums.push_back(Get32(&record[4 + 4 * k]));
  }

  std::vector<unsigned char> page(h.pageSize);
  std::optional<std::uint32_t> previous;
  OriginalRecord r;
  for (std::uint32_t i = 0; i < h.records; ++i) {
    if (!ReadOriginalRecord(journal, h, i, previous, record, r)) {
      fit.damage =
          "its record of the original page " + std::to_string(i + 1) + " is cut short or damaged";
      return fit;
    }
    previous = r.page;
    ReadExactly(database, std::uint64_t{r.page} * h.pageSize, page.data(), page.size());
    for (std::size_t k = 0; k < sectors; ++k) {
      const unsigned char* now = &page[k * kSector];
      if (std::memcmp(now, r.original + k * kSector, kSector) == 0) continue;
      if (CrcUpdate(0, now, kSector) == Get32(r.sums + 4 * k)) continue;
      fit.misfit = "page " + std::to_string(r.page) +
                   " holds bytes that are neither those from before the change the journal "
                   "records nor those that change wrote";
      return fit;
    }
  }

  // Past the original end: what the commit appended, zeros where a crash lost it, or the end
  // of a write cut short.
  for (std::uint64_t at = h.originalSize; at < size; at += h.pageSize) {
    std::uint32_t number = static_cast<std::uint32_t>(at / h.pageSize);
    std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(h.pageSize, size - at));
    ReadExactly(database, at, page.data(), got);
    std::uint32_t added = number - h.originalPages;
    for (std::size_t k = 0; (k + 1) * kSector <= got; ++k) {
      const unsigned char* now = &page[k * kSector];
      if (IsZero(now, kSector)) continue;
      if (CrcUpdate(0, now, kSector) == addedSums[std::size_t{added} * sectors + k]) continue;
      fit.misfit = "page " + std::to_string(number) +
                   ", past the file's size before the change the journal records, holds bytes "
                   "that change did not write";
      return fit;
    }
  }
  return fit;
}

void RemoveJournalFile(FileEnv& env, const std::string& journalPath) {
  env.remove(journalPath);
  env.syncFolderOf(journalPath);
}

// Renames a journal that is not to be played out of the way, never over an older one, and
// throws the error that reports it. `why` says why it was not played back.
[[noreturn]] void SetJournalAside(const std::string& databasePath, FileEnv& env,
                                  const std::string& why) {
  const std::string journalPath = JournalPath(databasePath);
  std::string what = "The journal '" + journalPath + "' beside the database '" + databasePath +
                     "' was not played back: " + why + ". Nothing was written to '" + databasePath +
                     "'";
  std::string aside;
  try {
    for (int n = 1; n <= kMaxStaleJournals && aside.empty(); ++n) {
      std::string candidate = journalPath + ".stale" + (n == 1 ? "" : "-" + std::to_string(n));
      if (!env.exists(candidate)) aside = candidate;
    }
    if (aside.empty())
      throw Error(errc::kFailed, "there are " + std::to_string(kMaxStaleJournals) +
                                     " set-aside journals beside it already");
    env.rename(journalPath, aside);
  } catch (const Error& e) {
    std::string cause = e.description();
    if (!cause.empty() && cause.back() == '.') cause.pop_back();
    throw Error(errc::kFailed, what + ". The journal could not be moved aside (" + cause +
                                   "): the database cannot be opened until it is moved or "
                                   "removed.");
  }
  try {
    env.syncFolderOf(aside);
  } catch (const Error&) {
    // The move stands. Should a power failure undo it, the next opening sets the journal aside
    // again.
  }
  throw Error(errc::kFailed, what + "; the journal was moved to '" + aside +
                                 "'. Opening the database again goes on without it.");
}

// The recovery itself; the caller holds the database's lock.
bool PlayBackJournal(const std::string& databasePath, FileEnv& env) {
  std::string journalPath = JournalPath(databasePath);
  if (!env.exists(journalPath)) return false;
  // A pipe or a device of that name would block the reading, or give bytes no journal has.
  std::error_code ec;
  if (std::filesystem::status(journalPath, ec).type() != std::filesystem::file_type::regular && !ec)
    SetJournalAside(databasePath, env, "it is not a file, so it is not a journal of this program");
  std::unique_ptr<File> journal = env.open(journalPath, FileMode::kRead);
  JournalHeader h;
  std::string why;
  switch (DecodeHeader(*journal, h, why)) {
    case HeaderState::kCutOff:
      // Cut off before its header was written: the database was never touched.
      journal.reset();
      RemoveJournalFile(env, journalPath);
      return false;
    case HeaderState::kUnreadable:
      journal.reset();
      SetJournalAside(databasePath, env, why);
    case HeaderState::kReadable:
      break;
  }

  Fit fit;
  {
    std::unique_ptr<File> database = env.open(databasePath, FileMode::kRead);
    fit = CheckFit(*journal, h, *database);
  }
  if (fit.damage) {
    journal.reset();
    SetJournalAside(databasePath, env,
                    "the journal is damaged: " + *fit.damage +
                        " (the file may hold part of the change the journal records)");
  }
  if (fit.misfit) {
    journal.reset();
    SetJournalAside(databasePath, env,
                    "it was not written for this file, which may have been replaced since (" +
                        *fit.misfit + ")");
  }

  std::unique_ptr<File> database = env.open(databasePath, FileMode::kReadWrite);
  std::vector<unsigned char> record;
  std::optional<std::uint32_t> previous;
  OriginalRecord r;
  for (std::uint32_t i = 0; i < h.records; ++i) {
    if (!ReadOriginalRecord(*journal, h, i, previous, record, r))
      throw Error(errc::kFailed, "Cannot play back the journal '" + journalPath +
                                     "': it changed while it was read.");
    previous = r.page;
    database->write(std::uint64_t{r.page} * h.pageSize, r.original, h.pageSize);
  }
  database->truncate(h.originalSize);
  database->sync();
  database.reset();
  journal.reset();
  RemoveJournalFile(env, journalPath);
  return true;
}

// Databases of this process with an open transaction, by their lock (one per database).
std::mutex& ActiveMutex() {
  static std::mutex mutex;
  return mutex;
}
std::set<const JetLock*>& Active() {
  static std::set<const JetLock*> active;
  return active;
}

}  // namespace

std::string JournalPath(const std::string& databasePath) {
  return ResolvedDatabasePath(databasePath) + "-journal";
}

bool RecoverHotJournal(const std::string& databasePath, FileEnv& env) {
  const std::string journalPath = JournalPath(databasePath);
  if (!env.exists(journalPath)) return false;
  std::shared_ptr<JetLock> lock;
  try {
    lock = JetLock::Acquire(databasePath);
  } catch (const Error& e) {
    // Say why the file cannot be opened at all: the cause alone (a lock file that cannot be
    // made, on a read-only disk say) would not tell.
    throw Error(e.number(),
                "The journal '" + journalPath + "' beside '" + databasePath +
                    "', left by a change that was cut off, must be played back before the file "
                    "is read, and that cannot be done now: " +
                    e.description() + " Until it is, the file may hold part of that change.",
                e.kind());
  }
  return PlayBackJournal(databasePath, env);
}

std::unique_ptr<JetPager> JetPager::Open(const std::string& path, FileEnv& env) {
  std::shared_ptr<JetLock> lock = JetLock::Acquire(path);
  PlayBackJournal(path, env);
  std::unique_ptr<File> file = env.open(path, FileMode::kReadWrite);
  std::vector<unsigned char> first(kFirstPageBytes);
  std::size_t got = file->read(0, first.data(), first.size());
  std::optional<JetHeader> header = ParseJetHeader(first.data(), got);
  if (!header) throw BadFormatError("Cannot write '" + path + "': it is not an Access database.");
  std::uint64_t size = file->size();
  if (size == 0 || size % header->pageSize != 0)
    throw BadFormatError("Cannot write '" + path + "': its size (" + std::to_string(size) +
                         " bytes) is not a whole number of " + std::to_string(header->pageSize) +
                         "-byte pages.");
  return std::unique_ptr<JetPager>(
      new JetPager(path, env, std::move(lock), std::move(file), header->pageSize));
}

JetPager::JetPager(std::string path, FileEnv& env, std::shared_ptr<JetLock> lock,
                   std::unique_ptr<File> file, std::size_t pageSize)
    : path_(std::move(path)),
      journalPath_(JournalPath(path_)),
      env_(env),
      lock_(std::move(lock)),
      file_(std::move(file)),
      pageSize_(pageSize) {}

JetPager::~JetPager() {
  if (inTransaction_) endTransaction();
}

std::uint32_t JetPager::pageCount() const {
  if (inTransaction_) return pageCount_;
  return static_cast<std::uint32_t>(file_->size() / pageSize_);
}

std::vector<unsigned char> JetPager::readPage(std::uint32_t page) const {
  if (inTransaction_) {
    auto it = changed_.find(page);
    if (it != changed_.end()) return it->second;
  }
  if (page >= pageCount())
    throw Error(errc::kFailed, "Cannot read page " + std::to_string(page) + " of '" + path_ +
                                   "': the file has " + std::to_string(pageCount()) + " pages.");
  std::vector<unsigned char> data(pageSize_);
  ReadExactly(*file_, std::uint64_t{page} * pageSize_, data.data(), data.size());
  return data;
}

void JetPager::writePage(std::uint32_t page, const std::vector<unsigned char>& data) {
  requireTransaction("change a page");
  checkPageSize(data);
  if (page >= pageCount_)
    throw Error(errc::kFailed, "Cannot write page " + std::to_string(page) + " of '" + path_ +
                                   "': the file has " + std::to_string(pageCount_) + " pages.");
  changed_[page] = data;
}

std::uint32_t JetPager::appendPage(const std::vector<unsigned char>& data) {
  requireTransaction("add a page");
  checkPageSize(data);
  if (pageCount_ == UINT32_MAX)
    throw Error(errc::kFailed, "Cannot add a page to '" + path_ + "': the file is full.");
  changed_[pageCount_] = data;
  return pageCount_++;
}

void JetPager::begin() {
  if (inTransaction_)
    throw Error(errc::kFailed, "A transaction is already open on '" + path_ + "'.");
  lock_->checkAlone();
  requireStillNamed();
  {
    std::lock_guard<std::mutex> guard(ActiveMutex());
    if (!Active().insert(lock_.get()).second)
      throw Error(errc::kFailed, "The database '" + path_ +
                                     "' is being changed by another connection of this program.");
  }
  try {
    if (journalMayBeHot_) {
      PlayBackJournal(path_, env_);
      journalMayBeHot_ = false;
    }
    originalSize_ = file_->size();
    if (originalSize_ % pageSize_ != 0)
      throw BadFormatError("Cannot write '" + path_ + "': its size (" +
                           std::to_string(originalSize_) +
                           " bytes) is not a whole number of pages.");
    originalPages_ = static_cast<std::uint32_t>(originalSize_ / pageSize_);
  } catch (...) {
    std::lock_guard<std::mutex> guard(ActiveMutex());
    Active().erase(lock_.get());
    throw;
  }
  pageCount_ = originalPages_;
  inTransaction_ = true;
}

void JetPager::rollback() {
  requireTransaction("roll back");
  endTransaction();
}

void JetPager::commit() {
  requireTransaction("commit");
  if (changed_.empty()) {
    endTransaction();
    return;
  }
  try {
    requireStillNamed();
  } catch (...) {
    endTransaction();
    throw;
  }
  std::map<std::uint32_t, std::vector<unsigned char>> originals;
  try {
    for (const auto& [page, data] : changed_) {
      if (page >= originalPages_) break;  // added pages have no original
      std::vector<unsigned char> original(pageSize_);
      ReadExactly(*file_, std::uint64_t{page} * pageSize_, original.data(), original.size());
      originals.emplace(page, std::move(original));
    }
    writeJournal(originals);
    requireStillNamed();  // again: writing the journal takes time
  } catch (...) {
    // The database file has not been touched. A journal that did get its header would only
    // write back the bytes that are there, so a failure to remove it is harmless.
    try {
      RemoveJournalFile(env_, journalPath_);
    } catch (const Error&) {
      journalMayBeHot_ = true;
    }
    endTransaction();
    throw;
  }
  try {
    writePages();
    env_.remove(journalPath_);
  } catch (...) {
    // Half-written: put the originals back while the journal still guards them.
    const std::exception_ptr failure = std::current_exception();
    try {
      restore(originals);
    } catch (const Error&) {
      journalMayBeHot_ = true;  // the journal is still there; the next begin or opening recovers
      endTransaction();
      std::string cause = "The change could not be written";
      try {
        std::rethrow_exception(failure);
      } catch (const std::exception& e) {
        cause = e.what();
      } catch (...) {
      }
      if (!cause.empty() && cause.back() != '.') cause += '.';
      throw Error(errc::kFailed,
                  cause + " Undoing the change failed too: '" + path_ +
                      "' may hold part of it until the journal '" + journalPath_ +
                      "' beside it is played back, which the next opening of the database "
                      "does. Keep the two files together.",
                  ErrorKind::kHalfWritten);
    }
    endTransaction();
    throw;
  }
  endTransaction();
  // The transaction is committed once the journal is gone. Should the folder sync fail, a power
  // failure could at worst bring the journal back, which undoes the whole transaction: the file
  // is then as before it, never in between. So the commit stands.
  try {
    env_.syncFolderOf(journalPath_);
  } catch (const Error&) {
    journalMayBeHot_ = true;
  }
}

void JetPager::writeJournal(const std::map<std::uint32_t, std::vector<unsigned char>>& originals) {
  std::unique_ptr<File> journal = env_.open(journalPath_, FileMode::kCreate);
  JournalHeader h;
  h.pageSize = static_cast<std::uint32_t>(pageSize_);
  h.originalPages = originalPages_;
  h.originalSize = originalSize_;
  h.records = static_cast<std::uint32_t>(originals.size());
  h.salt = std::random_device{}();
  h.committedPages = pageCount_;
  h.committedSize = std::uint64_t{pageCount_} * pageSize_;

  std::vector<unsigned char> chunk;
  std::uint64_t offset = kHeaderSize;
  auto flush = [&](bool always) {
    if (chunk.empty() || (!always && chunk.size() < kWriteChunk)) return;
    journal->write(offset, chunk.data(), chunk.size());
    offset += chunk.size();
    chunk.clear();
  };
  // Every page from the original page count on was appended, so is in changed_.
  for (auto it = changed_.lower_bound(originalPages_); it != changed_.end(); ++it) {
    AppendRecord(chunk, h.salt, it->first, nullptr, it->second);
    flush(false);
  }
  for (const auto& [page, data] : originals) {
    AppendRecord(chunk, h.salt, page, &data, changed_.at(page));
    flush(false);
  }
  flush(true);
  journal->sync();
  std::array<unsigned char, kHeaderSize> header = EncodeHeader(h);
  journal->write(0, header.data(), header.size());
  journal->sync();
  journal.reset();
  env_.syncFolderOf(journalPath_);
}

void JetPager::writePages() {
  std::vector<unsigned char> run;
  std::uint64_t runStart = 0;
  std::uint32_t next = 0;
  auto flush = [&] {
    if (run.empty()) return;
    file_->write(runStart, run.data(), run.size());
    run.clear();
  };
  for (const auto& [page, data] : changed_) {
    if (!run.empty() && (page != next || run.size() >= kWriteChunk)) flush();
    if (run.empty()) runStart = std::uint64_t{page} * pageSize_;
    run.insert(run.end(), data.begin(), data.end());
    next = page + 1;
  }
  flush();
  file_->sync();
}

void JetPager::restore(const std::map<std::uint32_t, std::vector<unsigned char>>& originals) {
  for (const auto& [page, data] : originals)
    file_->write(std::uint64_t{page} * pageSize_, data.data(), data.size());
  file_->truncate(originalSize_);
  file_->sync();
  RemoveJournalFile(env_, journalPath_);
}

void JetPager::requireStillNamed() const {
  // Writing on would put the change into a file nobody can reach any more, or lay a journal
  // beside a file it was not written for.
  if (!file_->stillNamed())
    throw Error(errc::kFailed, "'" + path_ +
                                   "' was removed, or replaced by another file, while it was open "
                                   "for writing; nothing more is written to it.");
}

void JetPager::requireTransaction(const char* what) const {
  if (!inTransaction_)
    throw Error(errc::kFailed,
                std::string("Cannot ") + what + " in '" + path_ + "': no transaction is open.");
}

void JetPager::checkPageSize(const std::vector<unsigned char>& data) const {
  if (data.size() != pageSize_)
    throw Error(errc::kFailed, "A page of '" + path_ + "' must be " + std::to_string(pageSize_) +
                                   " bytes, not " + std::to_string(data.size()) + ".");
}

void JetPager::endTransaction() {
  changed_.clear();
  inTransaction_ = false;
  std::lock_guard<std::mutex> guard(ActiveMutex());
  Active().erase(lock_.get());
}

}  // namespace db::access::write
