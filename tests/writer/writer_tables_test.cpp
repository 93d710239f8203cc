// CREATE TABLE, INSERT and DROP TABLE on copies of the Access fixtures, read back through our
// own reading engine (libmdb underneath).
#include <gtest/gtest.h>

#include "db/access/access_engine.h"
#include "db/access/sql/parser.h"
#include "db/base/error.h"
#include "db/access/write/writer.h"
#include "tests/support/fixtures.h"
#include "tests/writer/writer_memory_pages.h"

using writertest::Exec;

namespace {

using testsupport::Fixture;
using testsupport::TempDir;

const char* const kWritableFixtures[] = {"jet4-empty-2000.mdb",      "jet4-empty-2003.mdb",
                                         "jet4-nopassword-2003.mdb", "jet4-numeric-2003.mdb",
                                         "ace12-empty-2007.accdb",   "ace14-empty-2010.accdb",
                                         "ace14-test-2010.accdb",    "ace16-deleted-column.accdb",
                                         "ace16-empty-2016.accdb",   "ace16-longtext.accdb"};

std::unique_ptr<db::Session> Open(const std::string& path) {
  return db::access::OpenAccessSession(path, "", db::OpenMode::Read);
}

std::vector<std::string> UserTables(db::Session& s) {
  std::vector<std::string> out;
  for (const db::CatalogRow& r : s.tables())
    if (r.type == "TABLE") out.push_back(r.name);
  return out;
}

std::vector<std::string> Column(db::Session& s, const std::string& table) {
  auto cursor = s.query("SELECT * FROM `" + table + "`");
  std::vector<std::string> out;
  std::vector<db::Value> row;
  while (cursor->next(row)) out.push_back(row.at(0).isNull() ? "<null>" : row.at(0).text());
  return out;
}

TEST(WriterTablesTest, CreateInsertAndDropOnEveryFixture) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* name : kWritableFixtures) {
    SCOPED_TRACE(name);
    TempDir dir;
    writertest::MemoryPages pages(Fixture(name));
    std::vector<std::string> before = UserTables(*Open(Fixture(name)));
    {
      db::access::write::JetWriter w(pages);
      Exec(w, "CREATE TABLE `Results` (`City` VARCHAR);");
      Exec(w, "insert into `Results` values ('O''Brien')");
      Exec(w, "insert into `Results` values ('Zürich')");
      Exec(w, "insert into `Results` values ('\xE6\x9D\xB1\xE4\xBA\xAC')");  // Tokyo in kanji
      Exec(w, "insert into `Results` values ('')");
    }
    std::string out = dir.file("out");
    pages.save(out);
    auto s = Open(out);
    std::vector<std::string> tables = UserTables(*s);
    EXPECT_NE(std::find(tables.begin(), tables.end(), "Results"), tables.end());
    EXPECT_EQ(Column(*s, "Results"),
              (std::vector<std::string>{"O'Brien", "Zürich", "\xE6\x9D\xB1\xE4\xBA\xAC", ""}));

    {
      db::access::write::JetWriter w(pages);
      Exec(w, "DROP TABLE `results`");
    }
    pages.save(out);
    EXPECT_EQ(UserTables(*Open(out)), before);
  }
}

}  // namespace
