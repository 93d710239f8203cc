// Transactions of the pager on copies of real Access files: what commit and rollback leave in
// the file, what a second connection of the process sees, and the misuse the pager refuses.
#include "db/access/write/pager.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "db/base/error.h"
#include "tests/support/fixtures.h"
#include "tests/writer/pager_support.h"

using db::access::write::JetPager;
using pagertest::Bytes;
using pagertest::Pattern;
using pagertest::ReadBytes;
using testsupport::TempDir;

namespace {

constexpr char kMdb[] = "jet4-empty-2000.mdb";
constexpr char kAccdb[] = "ace12-empty-2007.accdb";

Bytes PageOf(const Bytes& file, std::uint32_t page, std::size_t pageSize) {
  return Bytes(file.begin() + page * pageSize, file.begin() + (page + 1) * pageSize);
}

TEST(PagerTest, CommitWritesChangedAndAddedPagesAndNothingBefore) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* name : {kMdb, kAccdb}) {
    SCOPED_TRACE(name);
    TempDir dir;
    std::string path = dir.copyFixture(name);
    Bytes old = ReadBytes(path);
    auto pager = JetPager::Open(path);
    ASSERT_EQ(pager->pageSize(), 4096u);
    std::uint32_t pages = pager->pageCount();
    ASSERT_EQ(pages * 4096u, old.size());

    pager->begin();
    pager->writePage(2, Pattern(4096, 1));
    std::uint32_t added = pager->appendPage(Pattern(4096, 2));
    pager->writePage(added, Pattern(4096, 3));  // an added page may change again
    EXPECT_EQ(added, pages);
    EXPECT_EQ(pager->pageCount(), pages + 1);
    EXPECT_EQ(pager->readPage(2), Pattern(4096, 1));
    EXPECT_EQ(pager->readPage(added), Pattern(4096, 3));
    EXPECT_EQ(pager->readPage(3), PageOf(old, 3, 4096));
    EXPECT_EQ(ReadBytes(path), old) << "nothing reaches the file before commit";
    pager->commit();
    EXPECT_FALSE(pager->inTransaction());

    Bytes expected = old;
    Bytes two = Pattern(4096, 1), last = Pattern(4096, 3);
    std::copy(two.begin(), two.end(), expected.begin() + 2 * 4096);
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_FALSE(std::filesystem::exists(db::access::write::JournalPath(path)));
    pager.reset();

    auto again = JetPager::Open(path);
    EXPECT_EQ(again->pageCount(), pages + 1);
    EXPECT_EQ(again->readPage(added), Pattern(4096, 3));
  }
}

// A copy of the Jet 4 fixture and its bytes.
class PagerOnCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    ROWSIFTER_REQUIRE_FIXTURES();
    path = dir.copyFixture(kMdb);
    old = ReadBytes(path);
  }
  TempDir dir;
  std::string path;
  Bytes old;
};

TEST_F(PagerOnCopy, RollbackAndDestructionLeaveTheFileAsItWas) {
  {
    auto pager = JetPager::Open(path);
    std::uint32_t pages = pager->pageCount();
    pager->begin();
    pager->writePage(1, Pattern(4096, 5));
    pager->appendPage(Pattern(4096, 6));
    pager->rollback();
    EXPECT_EQ(pager->pageCount(), pages);
    EXPECT_EQ(pager->readPage(1), PageOf(old, 1, 4096));

    pager->begin();  // a connection closed in the middle of a transaction
    pager->writePage(1, Pattern(4096, 7));
  }
  EXPECT_EQ(ReadBytes(path), old);
  EXPECT_FALSE(std::filesystem::exists(db::access::write::JournalPath(path)));
}

TEST_F(PagerOnCopy, SecondConnectionWaitsForTheTransactionAndThenSeesIt) {
  auto first = JetPager::Open(path);
  auto second = JetPager::Open(path);
  first->begin();
  first->writePage(3, Pattern(4096, 9));
  std::uint32_t added = first->appendPage(Pattern(4096, 10));
  EXPECT_THROW(second->begin(), db::Error);
  EXPECT_NE(second->readPage(3), Pattern(4096, 9)) << "uncommitted work is not visible";
  first->commit();
  EXPECT_EQ(second->readPage(3), Pattern(4096, 9));
  EXPECT_EQ(second->pageCount(), added + 1);
  second->begin();  // free again
  second->rollback();
}

// One file under two names: a symbolic link shares the file's lock file and journal (so other
// processes of ours meet them); a hard link has a lock file of its own, and the lock on the file
// itself refuses it while the first name is open for writing.
TEST_F(PagerOnCopy, OneFileUnderTwoNamesIsLockedOnce) {
  namespace fs = std::filesystem;
  const std::string symbolic = dir.file("symbolic.mdb"), hard = dir.file("hard.mdb");
  fs::create_symlink(path, symbolic);
  fs::create_hard_link(path, hard);
  using db::access::write::JournalPath;
  using db::access::write::LockFilePath;
  EXPECT_EQ(JournalPath(symbolic), JournalPath(path));
  EXPECT_EQ(LockFilePath(symbolic), LockFilePath(path));
  EXPECT_NE(LockFilePath(hard), LockFilePath(path));

  auto pager = JetPager::Open(symbolic);
  EXPECT_TRUE(fs::exists(LockFilePath(path)));
  try {
    JetPager::Open(hard);
    ADD_FAILURE() << "opened under a second name";
  } catch (const db::Error& e) {
    EXPECT_NE(e.description().find("under another name"), std::string::npos) << e.description();
  }
  EXPECT_FALSE(fs::exists(LockFilePath(hard))) << "the refused opening leaves no lock file";
  pager.reset();
  EXPECT_FALSE(fs::exists(LockFilePath(path)));
  JetPager::Open(hard);  // free again
  EXPECT_EQ(ReadBytes(path), old);
}

// A file removed, or replaced by another, while it is open for writing is not written: the
// change would go into a file nobody reaches, its journal beside a file it was not written for.
TEST_F(PagerOnCopy, FileReplacedOrRemovedWhileOpenIsNotWritten) {
  namespace fs = std::filesystem;
  for (bool removed : {false, true}) {
    SCOPED_TRACE(removed ? "removed" : "replaced");
    auto pager = JetPager::Open(path);
    pager->begin();
    pager->writePage(3, Pattern(4096, 9));
    const std::string other = dir.file("other.mdb");
    fs::copy_file(path, other, fs::copy_options::overwrite_existing);
    fs::rename(removed ? path : other, removed ? dir.file("moved.mdb") : path);
    try {
      pager->commit();
      ADD_FAILURE() << "committed";
    } catch (const db::Error& e) {
      EXPECT_NE(e.description().find("was removed, or replaced"), std::string::npos)
          << e.description();
    }
    EXPECT_FALSE(pager->inTransaction());
    EXPECT_THROW(pager->begin(), db::Error);
    EXPECT_FALSE(fs::exists(db::access::write::JournalPath(path)));
    pager.reset();
    if (removed) fs::rename(dir.file("moved.mdb"), path);
    EXPECT_EQ(ReadBytes(path), old);
  }
}

// A database whose name leaves no room for "-journal" can be read; a commit fails clearly.
TEST_F(PagerOnCopy, NameWithoutRoomForAJournal) {
  const std::string longName = dir.file(std::string(250, 'n') + ".mdb");
  std::filesystem::rename(path, longName);
  EXPECT_FALSE(db::access::write::RecoverHotJournal(longName));
  auto pager = JetPager::Open(longName);
  pager->begin();
  pager->writePage(3, Pattern(4096, 9));
  try {
    pager->commit();
    ADD_FAILURE() << "committed";
  } catch (const db::Error& e) {
    EXPECT_NE(e.description().find("File name too long"), std::string::npos) << e.description();
    EXPECT_NE(e.kind(), db::ErrorKind::kHalfWritten);
  }
  pager.reset();
  EXPECT_EQ(ReadBytes(longName), old);
}

TEST_F(PagerOnCopy, RefusesMisuse) {
  auto pager = JetPager::Open(path);
  std::uint32_t pages = pager->pageCount();
  EXPECT_THROW(pager->writePage(1, Pattern(4096, 1)), db::Error);
  EXPECT_THROW(pager->appendPage(Pattern(4096, 1)), db::Error);
  EXPECT_THROW(pager->commit(), db::Error);
  EXPECT_THROW(pager->rollback(), db::Error);
  EXPECT_THROW(pager->readPage(pages), db::Error);

  pager->begin();
  EXPECT_THROW(pager->begin(), db::Error);
  EXPECT_THROW(pager->writePage(1, Pattern(2048, 1)), db::Error);
  EXPECT_THROW(pager->appendPage(Pattern(4097, 1)), db::Error);
  EXPECT_THROW(pager->writePage(pages, Pattern(4096, 1)), db::Error);
  EXPECT_TRUE(pager->inTransaction());
  pager->commit();
  EXPECT_EQ(ReadBytes(path), old);
}

TEST(PagerTest, RefusesFilesThatAreNotWholeAccessDatabases) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string text = dir.file("notes.mdb");
  pagertest::WriteBytes(text, Bytes(8192, 'x'));
  EXPECT_THROW(JetPager::Open(text), db::Error);

  std::string cut = dir.copyFixture(kMdb);
  Bytes bytes = ReadBytes(cut);
  bytes.resize(bytes.size() - 100);
  pagertest::WriteBytes(cut, bytes);
  EXPECT_THROW(JetPager::Open(cut), db::Error);
  EXPECT_EQ(ReadBytes(cut), bytes);

  EXPECT_THROW(JetPager::Open(dir.file("missing.mdb")), db::Error);
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing.ldb")));
}

}  // namespace
