// The lock-file convention: whose lock file blocks writing, when ours is taken over, and when it
// is removed.
#include "db/access/write/lock_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "db/base/error.h"
#include "db/access/write/pager.h"
#include "tests/support/fixtures.h"
#include "tests/writer/pager_support.h"

using db::access::write::JetLock;
using db::access::write::JetPager;
using db::access::write::LockFilePath;
using pagertest::Bytes;
using pagertest::ReadBytes;
using testsupport::TempDir;

namespace fs = std::filesystem;

namespace {

// An entry as Access writes it: computer name and security user, 32 NUL-padded bytes each.
Bytes AccessEntry(const std::string& computer, const std::string& user) {
  Bytes entry(64, 0);
  std::copy(computer.begin(), computer.end(), entry.begin());
  std::copy(user.begin(), user.end(), entry.begin() + 32);
  return entry;
}

std::string OpenElsewhere(const std::string& db, const std::string& lock) {
  return "The database '" + db + "' is open in another program (its lock file '" + lock +
         "' exists). Close it there and try again.";
}

TEST(LockTest, LockFileNameFollowsTheDatabaseKind) {
  EXPECT_EQ(LockFilePath("/data/shop.mdb"), "/data/shop.ldb");
  EXPECT_EQ(LockFilePath("/data/Shop.MDB"), "/data/Shop.ldb");
  EXPECT_EQ(LockFilePath("/data/shop.accdb"), "/data/shop.laccdb");
  EXPECT_EQ(LockFilePath("/data/shop.ACCDB"), "/data/shop.laccdb");
  EXPECT_EQ(LockFilePath("/data/my.shop.accde"), "/data/my.shop.laccdb");
  EXPECT_EQ(LockFilePath("/data/shop"), "/data/shop.ldb");
}

TEST(LockTest, WriterHoldsItsOwnEntryAndRemovesItAtTheEnd) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture("ace12-empty-2007.accdb");
  std::string lock = dir.file("ace12-empty-2007.laccdb");
  {
    auto pager = JetPager::Open(path);
    ASSERT_TRUE(fs::exists(lock));
    Bytes entry = ReadBytes(lock);
    ASSERT_EQ(entry.size(), 64u);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.data())),
              std::string(host).substr(0, 31));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.data() + 32)), "Rowsifter");
    EXPECT_EQ(entry[31], 0);
    EXPECT_EQ(entry[63], 0);

    auto second = JetPager::Open(path);  // connections of one process share the lock
    second.reset();
    EXPECT_TRUE(fs::exists(lock));
  }
  EXPECT_FALSE(fs::exists(lock));
}

TEST(LockTest, AccessLockFileBlocksWritingAndRecovery) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture("jet4-empty-2000.mdb");
  std::string lock = dir.file("jet4-empty-2000.ldb");
  const Bytes entry = AccessEntry("OFFICE-PC", "Admin");
  pagertest::WriteBytes(lock, entry);
  const Bytes old = ReadBytes(path);
  try {
    JetPager::Open(path);
    ADD_FAILURE() << "opened for writing while Access has the database open";
  } catch (const db::Error& e) {
    EXPECT_EQ(e.description(), OpenElsewhere(path, lock));
  }
  // A journal beside it is left alone as well: Access is working on the file.
  pagertest::WriteBytes(db::access::write::JournalPath(path), Bytes(100, 0));  // never finished
  try {
    db::access::write::RecoverHotJournal(path);
    ADD_FAILURE() << "recovered while Access has the database open";
  } catch (const db::Error& e) {
    EXPECT_NE(e.description().find("left by a change that was cut off"), std::string::npos)
        << e.description();
    EXPECT_NE(e.description().find(OpenElsewhere(path, lock)), std::string::npos);
  }
  EXPECT_TRUE(fs::exists(db::access::write::JournalPath(path)));
  EXPECT_EQ(ReadBytes(lock), entry);
  EXPECT_EQ(ReadBytes(path), old);

  // An empty lock file is someone else's too (its maker has not written its entry yet); should
  // it have been left behind, the message says how to go on.
  pagertest::WriteBytes(lock, Bytes());
  try {
    JetPager::Open(path);
    ADD_FAILURE() << "opened beside an empty lock file";
  } catch (const db::Error& e) {
    EXPECT_NE(e.description().find("was left behind: remove it"), std::string::npos)
        << e.description();
  }
  fs::remove(lock);
  EXPECT_NO_THROW(db::access::write::RecoverHotJournal(path));
  EXPECT_FALSE(fs::exists(db::access::write::JournalPath(path)));
}

TEST(LockTest, AccessJoiningWhileWeWriteStopsTheNextTransaction) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture("jet4-empty-2000.mdb");
  std::string lock = LockFilePath(path);
  {
    auto pager = JetPager::Open(path);
    pager->begin();
    pager->rollback();
    Bytes both = ReadBytes(lock);
    Bytes access = AccessEntry("OFFICE-PC", "Admin");
    both.insert(both.end(), access.begin(), access.end());
    {
      std::ofstream out(lock, std::ios::binary | std::ios::app);  // as Access adds its user
      out.write(reinterpret_cast<const char*>(access.data()), 64);
    }
    EXPECT_THROW(pager->begin(), db::Error);
    EXPECT_FALSE(pager->inTransaction());
  }
  EXPECT_TRUE(fs::exists(lock)) << "Access's lock file is Access's to remove";
}

TEST(LockTest, OtherProcessOfOursExcludesUsUntilItEnds) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture("jet4-empty-2000.mdb");
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char c = 'n';
    try {
      auto lock = JetLock::Acquire(path);
      c = 'y';
      (void)!write(ready[1], &c, 1);
      (void)!read(go[0], &c, 1);
      _exit(0);  // ends holding the lock, without cleaning up, as a killed process would
    } catch (...) {
      (void)!write(ready[1], &c, 1);
    }
    _exit(1);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_THROW(JetPager::Open(path), db::Error);
  EXPECT_THROW(JetLock::Acquire(path), db::Error);

  (void)!write(go[1], &c, 1);
  int status = 0;
  waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
  ASSERT_TRUE(fs::exists(LockFilePath(path))) << "left by the ended process";

  auto pager = JetPager::Open(path);  // ours, and nobody holds it: taken over
  pager.reset();
  EXPECT_FALSE(fs::exists(LockFilePath(path)));
}

}  // namespace
