// Tables and files that outgrow the inline form of their page maps: every page that holds rows
// stays recorded, or the statement that would need it is refused with nothing lost.
#include <gtest/gtest.h>

#include <string>

#include "db/access_engine.h"
#include "db/access_sql.h"
#include "db/error.h"
#include "db/jet_check.h"
#include "db/jet_writer.h"
#include "tests/support/fixtures.h"
#include "tests/writer/writer_memory_pages.h"

namespace {

using testsupport::Fixture;
using testsupport::TempDir;

void Exec(db::JetWriter& w, const std::string& sql) {
  db::AccessStatement s = db::ParseAccessStatement(sql);
  if (auto* c = std::get_if<db::CreateTableStatement>(&s)) w.createTable(*c);
  else if (auto* i = std::get_if<db::InsertStatement>(&s)) w.insert(*i);
  else if (auto* d = std::get_if<db::DropTableStatement>(&s)) w.dropTable(*d);
}

std::size_t RowsRead(const std::string& path, const std::string& table) {
  auto s = db::OpenAccessSession(path, "", db::OpenMode::Read, db::FileFormat::Unknown);
  auto cursor = s->query("SELECT * FROM `" + table + "`");
  std::vector<db::Value> row;
  std::size_t n = 0;
  while (cursor->next(row)) ++n;
  return n;
}

std::string Problems(const db::JetCheckReport& report) {
  std::string out;
  for (std::size_t i = 0; i < report.problems.size() && i < 5; ++i) out += report.problems[i] + "\n";
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
      db::JetWriter w(pages);
      Exec(w, "CREATE TABLE `Big` (`Value` VARCHAR(255))");
      for (; written < 9000; ++written) {
        std::string value = std::to_string(written) + std::string(250, 'x');
        Exec(w, "insert into `Big` values ('" + value + "')");
      }
    }
    std::string out = dir.file("big");
    pages.save(out);
    db::JetCheckReport report = db::CheckJetFile(out);
    EXPECT_TRUE(report.ok()) << Problems(report);
    EXPECT_EQ(RowsRead(out, "Big"), written);
    // Dropped again, the table gives every page back, its map pages too.
    {
      db::JetWriter w(pages);
      Exec(w, "DROP TABLE `Big`");
    }
    pages.save(out);
    report = db::CheckJetFile(out);
    EXPECT_TRUE(report.ok()) << Problems(report);
    EXPECT_TRUE(report.leakedPages.empty()) << report.leakedPages.size() << " pages leaked";
  }
}

}  // namespace
