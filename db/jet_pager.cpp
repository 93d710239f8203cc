#include "db/jet_pager.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <set>

#include "db/error.h"
#include "db/jet_header.h"

namespace db {
namespace {

constexpr unsigned char kMagic[8] = {'R', 'w', 's', 'J', 'r', 'n', 'l', 0x01};
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kHeaderSize = 64;
constexpr std::size_t kHeaderChecked = 36;  // bytes covered by the header checksum
constexpr std::size_t kFirstPageBytes = 0x18 + 0x80;  // what ParseJetHeader needs
constexpr std::size_t kWriteChunk = 1 << 20;          // pages are written in runs up to this

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

void Put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put64(unsigned char* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint32_t Get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t Get64(const unsigned char* p) {
  return Get32(p) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}

struct JournalHeader {
  std::uint32_t pageSize = 0;
  std::uint32_t originalPages = 0;
  std::uint64_t originalSize = 0;
  std::uint32_t records = 0;
  std::uint32_t salt = 0;
};

std::array<unsigned char, kHeaderSize> EncodeHeader(const JournalHeader& h) {
  std::array<unsigned char, kHeaderSize> bytes{};
  std::memcpy(bytes.data(), kMagic, sizeof kMagic);
  Put32(&bytes[8], kFormatVersion);
  Put32(&bytes[12], h.pageSize);
  Put32(&bytes[16], h.originalPages);
  Put64(&bytes[20], h.originalSize);
  Put32(&bytes[28], h.records);
  Put32(&bytes[32], h.salt);
  Put32(&bytes[kHeaderChecked], CrcUpdate(0, bytes.data(), kHeaderChecked));
  return bytes;
}

// Gives false for a header that is short, damaged or not one of ours.
bool DecodeHeader(File& journal, JournalHeader& h) {
  std::array<unsigned char, kHeaderSize> bytes{};
  if (journal.read(0, bytes.data(), bytes.size()) != bytes.size()) return false;
  if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
  if (Get32(&bytes[kHeaderChecked]) != CrcUpdate(0, bytes.data(), kHeaderChecked)) return false;
  if (Get32(&bytes[8]) != kFormatVersion) return false;
  h.pageSize = Get32(&bytes[12]);
  h.originalPages = Get32(&bytes[16]);
  h.originalSize = Get64(&bytes[20]);
  h.records = Get32(&bytes[28]);
  h.salt = Get32(&bytes[32]);
  bool powerOfTwo =
      h.pageSize >= 512 && h.pageSize <= 65536 && (h.pageSize & (h.pageSize - 1)) == 0;
  return powerOfTwo && h.originalSize == std::uint64_t{h.originalPages} * h.pageSize &&
         h.records <= h.originalPages;
}

std::uint32_t RecordChecksum(std::uint32_t salt, std::uint32_t page, const unsigned char* data,
                             std::size_t size) {
  unsigned char prefix[8];
  Put32(prefix, salt);
  Put32(prefix + 4, page);
  return CrcUpdate(CrcUpdate(0, prefix, sizeof prefix), data, size);
}

void RemoveJournalFile(FileEnv& env, const std::string& journalPath) {
  env.remove(journalPath);
  env.syncFolderOf(journalPath);
}

// The recovery itself; the caller holds the database's lock.
bool PlayBackJournal(const std::string& databasePath, FileEnv& env) {
  std::string journalPath = JournalPath(databasePath);
  if (!env.exists(journalPath)) return false;
  std::unique_ptr<File> journal = env.open(journalPath, FileMode::kRead);
  JournalHeader h;
  if (!DecodeHeader(*journal, h)) {
    // Cut off before its header was written: the database was never touched.
    journal.reset();
    RemoveJournalFile(env, journalPath);
    return false;
  }
  std::unique_ptr<File> database = env.open(databasePath, FileMode::kReadWrite);
  std::vector<unsigned char> record(h.pageSize + 8);
  for (std::uint32_t i = 0; i < h.records; ++i) {
    std::uint64_t offset = kHeaderSize + std::uint64_t{i} * record.size();
    if (journal->read(offset, record.data(), record.size()) != record.size()) break;
    std::uint32_t page = Get32(record.data());
    if (page >= h.originalPages ||
        Get32(&record[4 + h.pageSize]) != RecordChecksum(h.salt, page, &record[4], h.pageSize))
      break;  // a torn tail: nothing after it can be trusted
    database->write(std::uint64_t{page} * h.pageSize, &record[4], h.pageSize);
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

std::string JournalPath(const std::string& databasePath) { return databasePath + "-journal"; }

bool RecoverHotJournal(const std::string& databasePath, FileEnv& env) {
  if (!env.exists(JournalPath(databasePath))) return false;
  std::shared_ptr<JetLock> lock = JetLock::Acquire(databasePath);
  return PlayBackJournal(databasePath, env);
}

std::unique_ptr<JetPager> JetPager::Open(const std::string& path, FileEnv& env) {
  std::shared_ptr<JetLock> lock = JetLock::Acquire(path);
  PlayBackJournal(path, env);
  std::unique_ptr<File> file = env.open(path, FileMode::kReadWrite);
  std::vector<unsigned char> first(kFirstPageBytes);
  std::size_t got = file->read(0, first.data(), first.size());
  std::optional<JetHeader> header = ParseJetHeader(first.data(), got);
  if (!header)
    throw Error(errc::kBadFormat, "Cannot write '" + path + "': it is not an Access database.");
  std::uint64_t size = file->size();
  if (size == 0 || size % header->pageSize != 0)
    throw Error(errc::kBadFormat, "Cannot write '" + path + "': its size (" +
                                      std::to_string(size) + " bytes) is not a whole number of " +
                                      std::to_string(header->pageSize) + "-byte pages.");
  return std::unique_ptr<JetPager>(
      new JetPager(path, env, std::move(lock), std::move(file), header->pageSize));
}

JetPager::JetPager(std::string path, FileEnv& env, std::shared_ptr<JetLock> lock,
                   std::unique_ptr<File> file, std::size_t pageSize)
    : path_(std::move(path)),
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
      throw Error(errc::kBadFormat, "Cannot write '" + path_ + "': its size (" +
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
  std::map<std::uint32_t, std::vector<unsigned char>> originals;
  try {
    for (const auto& [page, data] : changed_) {
      if (page >= originalPages_) break;  // added pages have no original
      std::vector<unsigned char> original(pageSize_);
      ReadExactly(*file_, std::uint64_t{page} * pageSize_, original.data(), original.size());
      originals.emplace(page, std::move(original));
    }
    writeJournal(originals);
  } catch (...) {
    // The database file has not been touched. A journal that did get its header would only
    // write back the bytes that are there, so a failure to remove it is harmless.
    try {
      RemoveJournalFile(env_, JournalPath(path_));
    } catch (const Error&) {
      journalMayBeHot_ = true;
    }
    endTransaction();
    throw;
  }
  try {
    writePages();
    env_.remove(JournalPath(path_));
  } catch (...) {
    // Half-written: put the originals back while the journal still guards them.
    try {
      restore(originals);
    } catch (const Error&) {
      journalMayBeHot_ = true;  // the journal is still there; the next begin or opening recovers
    }
    endTransaction();
    throw;
  }
  endTransaction();
  // The transaction is committed once the journal is gone. Should the folder sync fail, a power
  // failure could at worst bring the journal back, which undoes the whole transaction: the file
  // is then as before it, never in between. So the commit stands.
  try {
    env_.syncFolderOf(JournalPath(path_));
  } catch (const Error&) {
    journalMayBeHot_ = true;
  }
}

void JetPager::writeJournal(const std::map<std::uint32_t, std::vector<unsigned char>>& originals) {
  std::string journalPath = JournalPath(path_);
  std::unique_ptr<File> journal = env_.open(journalPath, FileMode::kCreate);
  JournalHeader h;
  h.pageSize = static_cast<std::uint32_t>(pageSize_);
  h.originalPages = originalPages_;
  h.originalSize = originalSize_;
  h.records = static_cast<std::uint32_t>(originals.size());
  h.salt = std::random_device{}();

  std::vector<unsigned char> chunk;
  std::uint64_t offset = kHeaderSize;
  auto flush = [&] {
    if (chunk.empty()) return;
    journal->write(offset, chunk.data(), chunk.size());
    offset += chunk.size();
    chunk.clear();
  };
  for (const auto& [page, data] : originals) {
    std::size_t at = chunk.size();
    chunk.resize(at + pageSize_ + 8);
    Put32(&chunk[at], page);
    std::memcpy(&chunk[at + 4], data.data(), pageSize_);
    Put32(&chunk[at + 4 + pageSize_], RecordChecksum(h.salt, page, data.data(), pageSize_));
    if (chunk.size() >= kWriteChunk) flush();
  }
  flush();
  journal->sync();
  std::array<unsigned char, kHeaderSize> header = EncodeHeader(h);
  journal->write(0, header.data(), header.size());
  journal->sync();
  journal.reset();
  env_.syncFolderOf(journalPath);
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
  RemoveJournalFile(env_, JournalPath(path_));
}

void JetPager::requireTransaction(const char* what) const {
  if (!inTransaction_)
    throw Error(errc::kFailed, std::string("Cannot ") + what + " in '" + path_ +
                                   "': no transaction is open.");
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

}  // namespace db
