// Tables and files that outgrow the inline form of their page maps: every page that holds rows
// stays recorded, or the statement that would need it is refused with nothing lost.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "db/access/access_engine.h"
#include "db/access/sql/parser.h"
#include "db/base/error.h"
#include "db/access/check/checker.h"
#include "db/access/write/data_page.h"
#include "db/access/write/usage_map.h"
#include "db/access/write/writer.h"
#include "tests/support/fixtures.h"
#include "tests/writer/writer_memory_pages.h"

using writertest::Exec;

namespace {

using testsupport::Fixture;
using testsupport::TempDir;

std::size_t RowsRead(const std::string& path, const std::string& table) {
  auto s = db::access::OpenAccessSession(path, "", db::OpenMode::Read);
  auto cursor = s->query("SELECT * FROM `" + table + "`");
  std::vector<db::Value> row;
  std::size_t n = 0;
  while (cursor->next(row)) ++n;
  return n;
}

std::string Problems(const db::access::check::JetCheckReport& report) {
  std::string out;
  for (std::size_t i = 0; i < report.problems.size() && i < 5; ++i)
    out += report.problems[i] + "\n";
  return out;
}

// Long values fill a page with about fifteen rows, so a few thousand rows take the table past
// the 512 pages an inline map holds and the file past its page map's inline window: both maps
// turn into reference maps and every row stays.
TEST(MapsGrowTest, RowsPastTheInlineWindowsAreKept) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* name : {"jet4-empty-2000.mdb", "ace14-test-2010.accdb"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    writertest::MemoryPages pages(Fixture(name));
    std::size_t written = 0;
    {
      db::access::write::JetWriter w(pages);
      Exec(w, "CREATE TABLE `Big` (`Value` VARCHAR(255))");
      for (; written < 9000; ++written) {
        std::string value = std::to_string(written) + std::string(250, 'x');
        Exec(w, "insert into `Big` values ('" + value + "')");
      }
    }
    std::string out = dir.file("big");
    pages.save(out);
    db::access::check::JetCheckReport report = db::access::check::CheckJetFile(out);
    EXPECT_TRUE(report.ok()) << Problems(report);
    EXPECT_EQ(RowsRead(out, "Big"), written);
    // Dropped again, the table gives every page back, its map pages too.
    {
      db::access::write::JetWriter w(pages);
      Exec(w, "DROP TABLE `Big`");
    }
    pages.save(out);
    report = db::access::check::CheckJetFile(out);
    EXPECT_TRUE(report.ok()) << Problems(report);
    EXPECT_TRUE(report.leakedPages.empty()) << report.leakedPages.size() << " pages leaked";
  }
}

// Inserts resolve their table once per writer: a drop or a new table of the same name in the
// same transaction must not leave them writing to the old definition.
TEST(MapsGrowTest, InsertsFollowTablesDroppedAndMadeAgain) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  writertest::MemoryPages pages(Fixture("jet4-empty-2003.mdb"));
  {
    db::access::write::JetWriter w(pages);
    Exec(w, "CREATE TABLE `T` (`A` VARCHAR(10))");
    Exec(w, "insert into `T` values ('first')");
    Exec(w, "DROP TABLE `T`");
    try {
      Exec(w, "insert into `T` values ('lost')");
      ADD_FAILURE() << "an insert into a dropped table went through";
    } catch (const db::Error& e) {
      EXPECT_EQ(e.number(), db::errc::kNoSuchObject);
    }
    Exec(w, "CREATE TABLE `T` (`A` VARCHAR(10), `B` VARCHAR(10))");
    Exec(w, "insert into `t` values ('x', 'y')");
    Exec(w, "insert into `T` values ('z', 'w')");
  }
  std::string out = dir.file("again");
  pages.save(out);
  EXPECT_EQ(RowsRead(out, "T"), 2u);
  db::access::check::JetCheckReport report = db::access::check::CheckJetFile(out);
  EXPECT_TRUE(report.ok()) << Problems(report);
}

// Small pages, so that a map page covers (128 - 4) * 8 = 992 pages and a file of a few
// thousand pages needs several of them. Page 1 holds the file's map (13 bytes: an inline
// window of 64 pages, or three map pages), page 3 two more map rows.
class SmallPages : public db::access::format::PageIo {
 public:
  SmallPages() {
    pages_.assign(4, db::access::write::Bytes(kSize, 0));
    db::access::write::Bytes map = db::access::write::NewInlineMapRow(0, 8);
    for (std::size_t bit = 4; bit < 64; ++bit)
      map[5 + bit / 8] |= 1u << (bit % 8);  // past the end: free
    pages_[1] = db::access::write::NewDataPage(kSize, 0);
    db::access::write::InsertDataRow(pages_[1], map);
    pages_[3] = db::access::write::NewDataPage(kSize, 0);
    for (int i = 0; i < 2; ++i)
      db::access::write::InsertDataRow(pages_[3], db::access::write::NewInlineMapRow(0, 8));
  }
  std::size_t pageSize() const override { return kSize; }
  std::uint32_t pageCount() const override { return static_cast<std::uint32_t>(pages_.size()); }
  db::access::write::Bytes readPage(std::uint32_t page) const override { return pages_.at(page); }
  void writePage(std::uint32_t page, const db::access::write::Bytes& data) override {
    pages_.at(page) = data;
  }
  std::uint32_t appendPage(const db::access::write::Bytes& data) override {
    pages_.push_back(data);
    return pageCount() - 1;
  }
  static constexpr std::size_t kSize = 128;

 private:
  std::vector<db::access::write::Bytes> pages_;
};

TEST(MapsGrowTest, TheFilesPageMapGainsMapPagesAsTheFileGrows) {
  SmallPages io;
  db::access::write::PageAllocator pages(io);
  std::set<std::uint32_t> taken;
  db::access::write::Bytes content(SmallPages::kSize, 0x01);
  for (int i = 0; i < 2500; ++i) ASSERT_TRUE(taken.insert(pages.allocate(content)).second);
  // Every page handed out is in use; the pages not handed out past page 3 are the map pages.
  std::set<std::uint32_t> mapPages;
  for (std::uint32_t p = 0; p < io.pageCount(); ++p) {
    EXPECT_FALSE(pages.isFree(p)) << p;
    if (p > 3 && !taken.count(p)) mapPages.insert(p);
  }
  ASSERT_EQ(mapPages.size(), 3u);
  for (std::uint32_t p : mapPages) EXPECT_EQ(io.readPage(p)[0], 0x05);
  EXPECT_TRUE(pages.isFree(io.pageCount() + 5));

  // Pages given back are found again before the file grows, in any stretch of the map.
  std::uint32_t count = io.pageCount();
  for (std::uint32_t p : {10u, 1500u, 2400u}) pages.release(p);
  std::set<std::uint32_t> again;
  for (int i = 0; i < 3; ++i) again.insert(pages.allocate(content));
  EXPECT_EQ(again, (std::set<std::uint32_t>{10, 1500, 2400}));
  EXPECT_EQ(io.pageCount(), count);
  // The reference row has room for three map pages: a fourth stretch is refused, not lost.
  for (;;) {
    try {
      pages.allocate(content);
    } catch (const db::Error&) {
      break;
    }
    ASSERT_LT(io.pageCount(), 4000u);
  }
  EXPECT_EQ(io.pageCount(), 3 * 992u);
}

TEST(MapsGrowTest, ATableMapKeepsItsPagesWhenItTurnsIntoAReferenceMap) {
  SmallPages io;
  db::access::write::PageAllocator pages(io);
  db::access::write::Bytes content(SmallPages::kSize, 0x01);
  auto newPage = [&] { return pages.allocate(content); };
  for (int i = 0; i < 2100; ++i) newPage();
  db::access::write::UsageMap owned(io, {3, 0}, newPage);
  std::set<std::uint32_t> held;
  // Inside one window, then wider than the window, then into a second and third stretch.
  for (std::uint32_t p : {40u, 41u, 90u, 5u, 300u, 1000u, 2050u, 991u, 992u}) {
    owned.add(p);
    held.insert(p);
    db::access::write::UsageMap reread(io, {3, 0});
    std::vector<std::uint32_t> listed = reread.pages();
    EXPECT_EQ(std::set<std::uint32_t>(listed.begin(), listed.end()), held) << "after " << p;
  }
  EXPECT_FALSE(owned.isInline());
  EXPECT_EQ(owned.mapPages().size(), 3u);
  for (std::uint32_t p : owned.mapPages()) EXPECT_FALSE(pages.isFree(p));
  owned.remove(1000);
  EXPECT_FALSE(db::access::write::UsageMap(io, {3, 0}).contains(1000));
  EXPECT_EQ(db::access::write::UsageMap(io, {3, 0}).next(301, 3000), 991u);
}

TEST(MapsGrowTest, AFreeSpaceMapStaysInlineAndDropsItsLowestPages) {
  SmallPages io;
  db::access::write::UsageMap withRoom(io, {3, 1});
  for (std::uint32_t p : {10u, 20u, 80u}) withRoom.addWithRoom(p);
  // 64 bits: the window moves up to 80 and loses 10 but keeps 20.
  db::access::write::UsageMap reread(io, {3, 1});
  EXPECT_TRUE(reread.isInline());
  EXPECT_EQ(reread.pages(), (std::vector<std::uint32_t>{20, 80}));
  withRoom.addWithRoom(500);
  EXPECT_EQ(db::access::write::UsageMap(io, {3, 1}).pages(), std::vector<std::uint32_t>{500});
}

}  // namespace
