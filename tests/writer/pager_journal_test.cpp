// What a journal is played back into. Every state an interrupted commit can leave (any mix of
// old and new sectors, appended pages written, lost or cut short) is put back; any other file
// (one that differs from both the old and the new bytes, or whose size the commit cannot have
// left), and a journal that records nothing to check the file against, is set aside unplayed,
// with the database byte-identical, an error once, and a clean opening after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "db/base/error.h"
#include "db/access/write/file_env.h"
#include "tests/support/fault_env.h"
#include "db/access/write/lock_file.h"
#include "db/access/write/pager.h"
#include "tests/support/fixtures.h"
#include "tests/writer/pager_support.h"

using db::access::write::JetPager;
using pagertest::Bytes;
using pagertest::kPage;
using pagertest::ReadBytes;
using pagertest::WriteBytes;
using testsupport::FaultEnv;
using testsupport::TempDir;

namespace fs = std::filesystem;

namespace {

constexpr char kFixture[] = "jet4-empty-2000.mdb";
constexpr std::size_t kSector = 512;

// A commit of pagertest::Change cut off after writing all its pages, before removing its
// journal: the file holds the new state, the journal beside it is hot.
struct Crashed {
  std::string path;
  Bytes old;      // the file before the commit
  Bytes written;  // the file after it
  Bytes journal;  // the journal it left
};

Crashed CrashAfterThePages(const TempDir& dir) {
  std::uint64_t total;
  {
    std::string scratch = dir.copyFixture(kFixture);
    FaultEnv counter;
    auto pager = JetPager::Open(scratch, counter);
    pagertest::Change(*pager);
    pager->commit();
    total = counter.operations();
    pager.reset();
    fs::remove(scratch);
  }
  Crashed c;
  c.path = dir.copyFixture(kFixture);
  c.old = ReadBytes(c.path);
  FaultEnv env;
  env.crashAtOperation(total - 2);  // the removal of the journal
  auto pager = JetPager::Open(c.path, env);
  pagertest::Change(*pager);
  EXPECT_THROW(pager->commit(), db::Error);
  pager.reset();
  c.written = ReadBytes(c.path);
  EXPECT_EQ(c.written, pagertest::Expected(c.old));
  c.journal = ReadBytes(db::access::write::JournalPath(c.path));
  EXPECT_FALSE(c.journal.empty());
  return c;
}

// Recovery sets the journal beside `path` aside: the file stays as it is, the journal (whose
// bytes were `journal`) is found at `aside`, the error names all three, and a second recovery
// has nothing to do.
void ExpectSetAside(const std::string& path, const Bytes& journal, const std::string& aside,
                    const std::string& cause) {
  const Bytes before = ReadBytes(path);
  std::string message;
  try {
    db::access::write::RecoverHotJournal(path);
    ADD_FAILURE() << "the journal was played back";
  } catch (const db::Error& e) {
    message = e.description();
  }
  for (const std::string& part : {path + "'", db::access::write::JournalPath(path) + "'",
                                  aside + "'", std::string("not played back"), cause})
    EXPECT_NE(message.find(part), std::string::npos)
        << "'" << part << "' missing from: " << message;
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_FALSE(fs::exists(db::access::write::JournalPath(path)));
  EXPECT_EQ(ReadBytes(aside), journal);
  EXPECT_FALSE(fs::exists(db::access::write::LockFilePath(path)));
  EXPECT_FALSE(db::access::write::RecoverHotJournal(path));
  EXPECT_EQ(ReadBytes(path), before);
}

// Power failures keep any part of what was not synced: each sector of a changed page old or
// new, the file grown by any number of sectors (whose contents are new, or zeros where the
// write was lost), even ending inside a sector. Every such state is put back, and so is one
// with changes on pages the commit did not touch: playing back leaves those alone.
TEST(PagerJournalTest, EveryStateTheCommitCanLeaveIsPutBack) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  const Crashed c = CrashAfterThePages(dir);
  std::mt19937 random(20240611);
  auto coin = [&] { return std::bernoulli_distribution(0.5)(random); };
  const std::size_t growth = c.written.size() - c.old.size();
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Bytes file = c.old;
    for (std::uint32_t page : pagertest::kChanged)
      for (std::size_t at = page * kPage; at < (page + 1) * kPage; at += kSector)
        if (coin()) std::copy_n(c.written.begin() + at, kSector, file.begin() + at);
    std::size_t grown = std::uniform_int_distribution<std::size_t>(0, growth)(random);
    if (round % 3) grown -= grown % kSector;
    for (std::size_t at = c.old.size(); at < c.old.size() + grown; at += kSector) {
      std::size_t n = std::min(kSector, c.old.size() + grown - at);
      if (coin())
        file.insert(file.end(), c.written.begin() + at, c.written.begin() + at + n);
      else
        file.insert(file.end(), n, 0);
    }
    Bytes expected = c.old;
    if (round % 4 == 0) {  // someone else changed a page the commit did not write
      file[3 * kPage + 100] ^= 0x5A;
      expected[3 * kPage + 100] ^= 0x5A;
    }
    WriteBytes(c.path, file);
    WriteBytes(db::access::write::JournalPath(c.path), c.journal);
    EXPECT_TRUE(db::access::write::RecoverHotJournal(c.path));
    ASSERT_EQ(ReadBytes(c.path), expected);
    EXPECT_FALSE(fs::exists(db::access::write::JournalPath(c.path)));
  }
}

// Files the commit cannot have left: each is set aside, unplayed.
TEST(PagerJournalTest, FileThatDoesNotFitTheJournalIsLeftAlone) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  const Crashed c = CrashAfterThePages(dir);
  const std::size_t oldEnd = c.old.size(), none = 0;
  const struct {
    const char* what;
    const Bytes& from;
    std::size_t flip;  // a byte to change (0: none)
    long grow;         // pages added (or cut) at the end
    const char* cause;
  } cases[] = {
      {"a changed page, new but one bit", c.written, 5 * kPage + 700, 0, "page 5 holds bytes"},
      {"a changed page, old but one bit", c.old, 6 * kPage + 3000, 0, "page 6 holds bytes"},
      {"an appended page, new but one bit", c.written, oldEnd + kPage + 10, 0, "past the file"},
      {"cut below its size before the commit", c.old, none, -1, "bytes long"},
      {"grown past its size after the commit", c.written, none, 1, "bytes long"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    Bytes file = k.from;
    if (k.flip) file[k.flip] ^= 0x01;
    file.resize(file.size() + k.grow * static_cast<long>(kPage), 0);
    WriteBytes(c.path, file);
    WriteBytes(db::access::write::JournalPath(c.path), c.journal);
    const std::string aside = db::access::write::JournalPath(c.path) + ".stale";
    ExpectSetAside(c.path, c.journal, aside, k.cause);
    JetPager::Open(c.path).reset();  // opens for writing, with nothing left to recover
    EXPECT_EQ(ReadBytes(c.path), file);
    fs::remove(aside);
  }
}

// CRC-32 as the journal uses it, to make headers of other versions.
std::uint32_t Crc32(const unsigned char* data, std::size_t size) {
  std::uint32_t crc = ~0u;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// Journals that say nothing about the file they belong to (written by an earlier version, or
// of a version we do not know) are set aside too, however well the file would fit; earlier
// set-aside journals are never overwritten; a journal that cannot be moved aside stays, and so
// does the file.
TEST(PagerJournalTest, JournalsThatCannotBeCheckedAreSetAsideAndKept) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  const Crashed c = CrashAfterThePages(dir);
  const std::string journal = db::access::write::JournalPath(c.path);

  // The first 36 bytes of both versions' headers agree; version 1 checks only those.
  Bytes first = c.journal;
  Put32(first, 8, 1);
  Put32(first, 36, Crc32(first.data(), 36));
  std::fill(first.begin() + 40, first.begin() + 64, 0);
  Bytes later = c.journal;
  Put32(later, 8, 3);

  WriteBytes(journal, first);
  ExpectSetAside(c.path, first, journal + ".stale", "earlier version");
  WriteBytes(journal, later);
  ExpectSetAside(c.path, later, journal + ".stale-2", "format 3");
  WriteBytes(journal, c.journal);
  Bytes other = c.old;
  other[kPage + 1] ^= 1;
  WriteBytes(c.path, other);
  ExpectSetAside(c.path, c.journal, journal + ".stale-3", "page 1 holds bytes");
  EXPECT_EQ(ReadBytes(journal + ".stale"), first);
  EXPECT_EQ(ReadBytes(journal + ".stale-2"), later);

  // The rename fails (here: the machine stops at it).
  WriteBytes(c.path, c.written);
  WriteBytes(journal, first);
  FaultEnv env;
  env.crashAtOperation(0);
  try {
    db::access::write::RecoverHotJournal(c.path, env);
    ADD_FAILURE() << "recovered";
  } catch (const db::Error& e) {
    EXPECT_NE(e.description().find("could not be moved aside"), std::string::npos)
        << e.description();
    EXPECT_NE(e.description().find("cannot be opened until"), std::string::npos);
  }
  EXPECT_EQ(ReadBytes(journal), first);
  EXPECT_EQ(ReadBytes(c.path), c.written);
  EXPECT_THROW(JetPager::Open(c.path), db::Error);  // the next opening tries again
  EXPECT_EQ(ReadBytes(journal + ".stale-4"), first);
  EXPECT_EQ(ReadBytes(c.path), c.written);
}

}  // namespace
