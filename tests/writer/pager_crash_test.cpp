// Crash safety of the pager: a crash at every changing I/O operation of a commit, full disks,
// failing writes and syncs, and damaged journals. After recovery the file must hold exactly the
// bytes from before the transaction or exactly those from after it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include <filesystem>

#include "db/base/error.h"
#include "db/access/write/file_env.h"
#include "tests/support/fault_env.h"
#include "db/access/write/lock_file.h"
#include "db/access/write/pager.h"
#include "tests/support/fixtures.h"
#include "tests/writer/pager_support.h"

using db::access::write::JetPager;
using pagertest::Bytes;
using pagertest::Pattern;
using pagertest::ReadBytes;
using testsupport::FaultEnv;
using testsupport::TempDir;

namespace fs = std::filesystem;

namespace {

using pagertest::Change;
using pagertest::kAdded;

// The tests run on a Jet 4 file (4096-byte pages) and an Access 97 one (Jet 3, 2048 bytes).
struct Format {
  const char* fixture;
  std::size_t pageSize;
};
class PagerCrashTest : public ::testing::TestWithParam<Format> {
 protected:
  const char* fixture() const { return GetParam().fixture; }
  std::size_t page() const { return GetParam().pageSize; }
  Bytes Expected(const Bytes& old) const { return pagertest::Expected(old, page()); }
};
INSTANTIATE_TEST_SUITE_P(Formats, PagerCrashTest,
                         ::testing::Values(Format{"jet4-empty-2000.mdb", 4096},
                                           Format{"jet3-test.mdb", 2048}),
                         [](const ::testing::TestParamInfo<Format>& info) {
                           return info.param.pageSize == 2048 ? "Jet3" : "Jet4";
                         });

// Runs the transaction through `env` and reports whether the commit went through.
bool CommitThrough(const std::string& path, FaultEnv& env, std::string* error = nullptr,
                   db::ErrorKind* kind = nullptr) {
  auto pager = JetPager::Open(path, env);
  Change(*pager);
  try {
    pager->commit();
    return true;
  } catch (const db::Error& e) {
    if (error) *error = e.description();
    if (kind) *kind = e.kind();
    EXPECT_FALSE(pager->inTransaction());
    return false;
  }
}

std::uint64_t CleanCommitOperations(const TempDir& dir, const char* fixture) {
  std::string path = dir.copyFixture(fixture);
  FaultEnv env;
  EXPECT_TRUE(CommitThrough(path, env));
  fs::remove(path);
  return env.operations();
}

// A copy of the fixture whose commit crashed at the operation `fromEnd` before the last of a
// clean commit, with its bytes from before the commit.
struct CrashedCommit {
  CrashedCommit(const char* fixture, std::uint64_t fromEnd) {
    const std::uint64_t total = CleanCommitOperations(dir, fixture);
    path = dir.copyFixture(fixture);
    old = ReadBytes(path);
    FaultEnv env;
    env.crashAtOperation(total - fromEnd);
    EXPECT_FALSE(CommitThrough(path, env));
  }
  TempDir dir;
  std::string path;
  Bytes old;
};

TEST_P(PagerCrashTest, CrashAtEveryOperationLeavesOldOrNewAfterRecovery) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  const std::uint64_t total = CleanCommitOperations(dir, fixture());
  ASSERT_GT(total, 6u);
  using Kind = FaultEnv::CrashKind;
  for (Kind kind : {Kind::kClean, Kind::kTornWrite, Kind::kLoseUnsynced}) {
    int olds = 0, news = 0;
    for (std::uint64_t k = 0; k <= total; ++k) {
      SCOPED_TRACE("crash at operation " + std::to_string(k) + ", kind " +
                   std::to_string(static_cast<int>(kind)));
      TempDir run;
      std::string path = run.copyFixture(fixture());
      const Bytes old = ReadBytes(path);
      FaultEnv env;
      env.crashAtOperation(k, kind);
      db::ErrorKind kind = db::ErrorKind::kOther;
      bool committed = CommitThrough(path, env, nullptr, &kind);
      EXPECT_EQ(env.crashed(), k < total);
      // A failed commit that leaves the file changed says so: it is half-written, and its
      // journal is there to undo it.
      if (!committed && ReadBytes(path) != old) {
        EXPECT_EQ(kind, db::ErrorKind::kHalfWritten) << "a changed file reported as unchanged";
      }
      if (kind == db::ErrorKind::kHalfWritten) {
        EXPECT_TRUE(fs::exists(db::access::write::JournalPath(path)));
      }

      // The next process: recovery before anything reads the file.
      db::access::write::RecoverHotJournal(path);
      Bytes now = ReadBytes(path);
      bool isOld = now == old, isNew = now == Expected(old);
      EXPECT_TRUE(isOld || isNew) << "file holds neither the old nor the new state";
      if (committed) {
        EXPECT_TRUE(isNew) << "a commit that reported success was lost";
      }
      olds += isOld;
      news += isNew;
      EXPECT_FALSE(fs::exists(db::access::write::JournalPath(path)));
      EXPECT_FALSE(fs::exists(db::access::write::LockFilePath(path)));
    }
    EXPECT_GT(olds, 0);
    EXPECT_GT(news, 0);
  }
}

TEST_P(PagerCrashTest, OpeningForWritingRecoversToo) {
  ROWSIFTER_REQUIRE_FIXTURES();
  CrashedCommit crashed(fixture(), 4);  // at the write of the added pages: the others are written
  const std::string& path = crashed.path;
  const Bytes& old = crashed.old;
  ASSERT_TRUE(fs::exists(db::access::write::JournalPath(path)));
  ASSERT_NE(ReadBytes(path), old) << "the crash should leave a half-written file";

  auto pager = JetPager::Open(path);
  EXPECT_EQ(ReadBytes(path), old);
  EXPECT_FALSE(fs::exists(db::access::write::JournalPath(path)));
  Change(*pager);  // and the transaction can be done again
  pager->commit();
  EXPECT_EQ(ReadBytes(path), Expected(old));
}

TEST_P(PagerCrashTest, FullDiskFailsTheCommitAndLeavesTheOldFile) {
  ROWSIFTER_REQUIRE_FIXTURES();
  // The journal: its header, the checksums of the added pages, the three originals with theirs.
  const std::uint64_t pageBytes = page();
  const std::uint64_t sums = pageBytes / 512 * 4;
  const std::uint64_t journal = 64 + kAdded * (sums + 8) + 3 * (pageBytes + sums + 8);
  const std::uint64_t growth = kAdded * pageBytes;
  for (std::uint64_t budget : {std::uint64_t{0}, std::uint64_t{10}, journal - 1, journal,
                               journal + pageBytes + 1, journal + growth - 1}) {
    SCOPED_TRACE("room for " + std::to_string(budget) + " bytes");
    TempDir dir;
    std::string path = dir.copyFixture(fixture());
    const Bytes old = ReadBytes(path);
    FaultEnv env;
    env.setGrowthBudget(budget);
    auto pager = JetPager::Open(path, env);
    Change(*pager);
    try {
      pager->commit();
      ADD_FAILURE() << "commit went through without room";
    } catch (const db::Error& e) {
      EXPECT_NE(e.description().find("disk is full"), std::string::npos) << e.description();
    }
    // Undone at once: no recovery needed.
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_FALSE(fs::exists(db::access::write::JournalPath(path)));

    env.setGrowthBudget(FaultEnv::kNever);  // room made: the same work goes through
    Change(*pager);
    pager->commit();
    EXPECT_EQ(ReadBytes(path), Expected(old));
  }
}

TEST_P(PagerCrashTest, FailingWriteOrSyncIsUndoneAtOnce) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (bool sync : {false, true}) {
    for (std::uint64_t n = 1;; ++n) {
      SCOPED_TRACE((sync ? "sync " : "write ") + std::to_string(n) + " fails");
      TempDir dir;
      std::string path = dir.copyFixture(fixture());
      const Bytes old = ReadBytes(path);
      FaultEnv env;
      if (sync)
        env.failSyncNumber(n);
      else
        env.failWriteNumber(n);
      if (CommitThrough(path, env)) {
        EXPECT_GT(n, 2u) << "a commit writes and syncs more than this";
        EXPECT_EQ(ReadBytes(path), Expected(old));
        break;
      }
      EXPECT_EQ(ReadBytes(path), old);
      EXPECT_FALSE(fs::exists(db::access::write::JournalPath(path)));
      ASSERT_LT(n, 50u);
    }
  }
}

// A hot journal damaged after it was written (its last record cut short, its header changed)
// cannot have been left by a crash: it is set aside unplayed and reported, the file left as the
// crash left it. A journal whose header was never written (zeros, or too short to hold one) is
// removed: the database was not touched.
TEST_P(PagerCrashTest, DamagedJournalIsSetAsideUnplayed) {
  ROWSIFTER_REQUIRE_FIXTURES();
  CrashedCommit crashed(fixture(), 2);  // at the removal of the journal: all pages are written
  const std::string& path = crashed.path;
  const Bytes written = ReadBytes(path);
  ASSERT_EQ(written, Expected(crashed.old));
  const std::string journal = db::access::write::JournalPath(path);
  const Bytes hot = ReadBytes(journal);

  const struct {
    const char* what;
    std::function<void(Bytes&)> damage;
    const char* said;
  } cases[] = {
      {"last record cut short", [](Bytes& b) { b.resize(b.size() - 10); }, "cut short or damaged"},
      {"a bit of the first record", [](Bytes& b) { b[64 + 5] ^= 0x10; }, "cut short or damaged"},
      {"a bit of the header", [](Bytes& b) { b[20] ^= 0x01; }, "header is damaged"},
      {"a file of another program", [](Bytes& b) { b.assign(100, 'x'); }, "not a journal"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = hot;
    c.damage(bytes);
    pagertest::WriteBytes(journal, bytes);
    try {
      db::access::write::RecoverHotJournal(path);
      ADD_FAILURE() << "played back";
    } catch (const db::Error& e) {
      EXPECT_NE(e.description().find(c.said), std::string::npos) << e.description();
      EXPECT_NE(e.description().find("may hold part of"), std::string::npos) << e.description();
    }
    EXPECT_EQ(ReadBytes(path), written);
    EXPECT_FALSE(fs::exists(journal));
    std::string aside = journal + ".stale" + (n++ ? "-" + std::to_string(n) : "");
    EXPECT_EQ(ReadBytes(aside), bytes);
  }

  // Not a file at all: a pipe would block the reading.
  ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0);
  EXPECT_THROW(db::access::write::RecoverHotJournal(path), db::Error);
  EXPECT_FALSE(fs::exists(journal));
  EXPECT_EQ(fs::status(journal + ".stale-" + std::to_string(n + 1)).type(), fs::file_type::fifo);
  EXPECT_EQ(ReadBytes(path), written);

  for (std::size_t size : {0, 30, 64}) {
    Bytes unwritten = hot;
    std::fill_n(unwritten.begin(), 64, 0);
    unwritten.resize(size < 64 ? size : unwritten.size());
    pagertest::WriteBytes(journal, unwritten);
    EXPECT_FALSE(db::access::write::RecoverHotJournal(path));
    EXPECT_EQ(ReadBytes(path), written);
    EXPECT_FALSE(fs::exists(journal));
  }
  EXPECT_FALSE(db::access::write::RecoverHotJournal(path)) << "no journal: nothing to do";
}

// The seam itself: what a crash, a crash that loses unsynced writes and a full disk leave.
TEST(FaultEnvTest, FaultEnvLeavesWhatAMachineWould) {
  {  // after the crash nothing reads or writes; a torn write leaves the whole sectors of its
     // first half
    TempDir dir;
    std::string path = dir.file("f");
    FaultEnv env;
    auto file = env.open(path, db::access::write::FileMode::kCreate);  // operation 0
    file->write(0, "abcdefgh", 8);                                     // 1
    env.crashAtOperation(2, FaultEnv::CrashKind::kTornWrite);
    const std::string torn(2000, '1');  // its first half ends in the second sector
    EXPECT_THROW(file->write(8, torn.data(), torn.size()), db::Error);
    EXPECT_TRUE(env.crashed());
    EXPECT_THROW(file->size(), db::Error);
    char buffer[4];
    EXPECT_THROW(file->read(0, buffer, 4), db::Error);
    EXPECT_THROW(env.remove(path), db::Error);
    file.reset();
    Bytes on = ReadBytes(path);
    EXPECT_EQ(std::string(on.begin(), on.end()), "abcdefgh" + std::string(504, '1'))
        << "the first sector of the torn write";
  }
  {  // a crash that loses what was not synced
    TempDir dir;
    std::string path = dir.file("f");
    pagertest::WriteBytes(path, Bytes{'o', 'l', 'd', '!'});
    FaultEnv env;
    env.crashAtOperation(6, FaultEnv::CrashKind::kLoseUnsynced);
    auto file = env.open(path, db::access::write::FileMode::kCreate);  // 0: empties it
    file->write(0, "abc", 3);                                          // 1
    file->sync();                                                      // 2
    file->write(1, "XY", 2);                                           // 3
    file->write(3, "defg", 4);                                         // 4
    file->truncate(2);                                                 // 5
    EXPECT_THROW(file->sync(), db::Error);                             // 6: the crash
    file.reset();
    Bytes on = ReadBytes(path);
    EXPECT_EQ(std::string(on.begin(), on.end()), "abc");

    FaultEnv again;
    again.crashAtOperation(1, FaultEnv::CrashKind::kLoseUnsynced);
    file = again.open(path, db::access::write::FileMode::kCreate);
    EXPECT_THROW(file->write(0, "new", 3), db::Error);
    on = ReadBytes(path);
    EXPECT_EQ(std::string(on.begin(), on.end()), "abc") << "the emptying was not synced either";
  }
  {  // a full disk takes what fits
    TempDir dir;
    std::string path = dir.file("f");
    FaultEnv env;
    env.setGrowthBudget(5);
    auto file = env.open(path, db::access::write::FileMode::kCreate);
    file->write(0, "abc", 3);
    file->write(0, "xyz", 3);  // overwriting needs no room
    EXPECT_THROW(file->write(3, "defg", 4), db::Error);
    file.reset();
    Bytes on = ReadBytes(path);
    EXPECT_EQ(std::string(on.begin(), on.end()), "xyzde");
  }
}

}  // namespace
