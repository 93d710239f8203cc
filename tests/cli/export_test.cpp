// export: the new table, --replace, the refusals, refused values and the all-or-nothing write.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <iterator>

#include "cli/exit_codes.h"
#include "tests/cli/cli_support.h"
#include "tests/db/file_size_limit.h"

namespace {

using namespace cli::exitcode;
using dbtest::QueryNumber;

class ExportTest : public clitest::CliTest {
 protected:
  ExportTest() {
    db = makeDatabase(
        "CREATE TABLE Source (City TEXT);"
        "INSERT INTO Source VALUES ('New York'), ('New York'), ('O''Hara Bay'), ('Paris'),"
        " (NULL), ('Rio de Janeiro');"
        "CREATE TABLE Empty (City TEXT);"
        "CREATE TABLE Old (x TEXT); INSERT INTO Old VALUES ('kept');");
  }

  long long count(const std::string& sql) { return QueryNumber(db, sql); }

  std::string db;
};

TEST_F(ExportTest, WritesTheDistinctMatchesIntoANewTable) {
  auto r = run({"export", db, "Source", "City", "Spaced", "-c", "3"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Table 'Spaced' created with 3 rows."), std::string::npos);
  EXPECT_EQ(count("SELECT count(*) FROM Spaced"), 3);
  EXPECT_EQ(count("SELECT count(*) FROM Spaced WHERE City = 'O''Hara Bay'"), 1) << "as stored";

  // No value meets the criterion: the table is still made, empty, and the code says so.
  r = run({"export", db, "Source", "City", "Digits", "-c", "11"});
  EXPECT_EQ(r.code, kNothingMatched);
  EXPECT_EQ(count("SELECT count(*) FROM Digits"), 0);

  // A source without rows makes no table at all.
  r = run({"export", db, "Empty", "City", "Nothing", "-c", "3"});
  EXPECT_EQ(r.code, kNothingMatched);
  EXPECT_NE(r.err.find("no table was created"), std::string::npos);
  EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE name = 'Nothing'"), 0);
}

TEST_F(ExportTest, AnExistingTableIsReplacedOnlyWithReplace) {
  auto r = run({"export", db, "Source", "City", "OLD", "-c", "3"});
  EXPECT_EQ(r.code, kTableRefused);
  EXPECT_NE(r.err.find("already exists"), std::string::npos);
  EXPECT_NE(r.err.find("--replace"), std::string::npos);
  EXPECT_EQ(count("SELECT count(*) FROM Old WHERE x = 'kept'"), 1) << "untouched";

  r = run({"export", db, "Source", "City", "OLD", "-c", "3", "--replace"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(count("SELECT count(*) FROM Old"), 3);
  EXPECT_EQ(count("SELECT count(*) FROM pragma_table_info('Old') WHERE name = 'City'"), 1);
}

TEST_F(ExportTest, TheTableBeingReadIsNeverTheNewOne) {
  auto r = run({"export", db, "Source", "City", "SOURCE", "-c", "3", "--replace"});
  EXPECT_EQ(r.code, kTableRefused);
  EXPECT_NE(r.err.find("cannot replace the table being read"), std::string::npos);
  EXPECT_EQ(count("SELECT count(*) FROM Source"), 6);
}

TEST_F(ExportTest, RefusedValuesAreReportedAndTheOthersKept) {
  // A value with a NUL character cannot travel inside statement text: the database refuses it.
  dbtest::RunSql(db, "INSERT INTO Source VALUES ('Bad' || char(0) || ' Row');");
  auto r = run({"export", db, "Source", "City", "Spaced", "-c", "3"});
  EXPECT_EQ(r.code, kWriteFailed) << "a value is missing from the table";
  EXPECT_NE(r.err.find("value refused by the database, left out: \"Bad\\u0000 Row\""),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("created with 3 rows; 1 value refused"), std::string::npos);
  EXPECT_EQ(count("SELECT count(*) FROM Spaced"), 3);
}

TEST_F(ExportTest, AFailedWriteChangesNothing) {
  // A create that fails (the name is a view's) rolls the transaction back.
  dbtest::RunSql(db, "CREATE VIEW Cities AS SELECT City FROM Source;");
  auto r = run({"export", db, "Source", "City", "Cities", "-c", "3"});
  EXPECT_EQ(r.code, kWriteFailed);
  EXPECT_NE(r.err.find("creating the table 'Cities' failed"), std::string::npos);
  EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE name = 'Cities' AND type = 'view'"), 1);
  EXPECT_NE(r.err.find("Nothing was changed in the database."), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("rollback"), std::string::npos) << r.err;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

using testsupport::FileBytes;

// The disk fills at the commit (the file may not grow): the export fails, and says once that
// nothing was changed, with the cause; there was nothing to roll back, so no word of a rollback.
TEST_F(ExportTest, AFullDiskAtTheCommitChangesNothingAndSaysSoOnce) {
  struct Case {
    std::string path, table, field, criterion, cause;
  };
  std::vector<Case> cases = {{db, "Source", "City", "3", "write the database file"}};
  if (testsupport::HaveFixtures())
    cases.push_back(
        {dir.copyFixture("jet4-nopassword-2003.mdb"), "Table1", "Data", "9", "File too large"});
  else
    std::cerr << "Access fixtures folder absent (" << testsupport::FixturesDir()
              << "): the Access case is skipped\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string before = FileBytes(c.path);
    clitest::Result r;
    {
      dbtest::FileSizeLimit full(before.size());
      r = run({"export", c.path, c.table, c.field, "Results", "-c", c.criterion});
    }
    EXPECT_EQ(r.code, kWriteFailed);
    EXPECT_NE(r.err.find("committing the export failed: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
    EXPECT_EQ(Occurrences(r.err, "Nothing was changed in the database."), 1u) << r.err;
    EXPECT_EQ(Occurrences(r.err, "\n"), 1u) << r.err;
    EXPECT_EQ(r.err.find("rollback"), std::string::npos) << r.err;
    EXPECT_EQ(FileBytes(c.path), before);
  }
}

// A full disk while the rows are written: the database rolls the whole export back by itself.
// The export stops there and names the refusal that ended it, once, with nothing changed.
TEST_F(ExportTest, AFullDiskWhileWritingStopsTheExportAndNamesTheCause) {
  // Far more rows than SQLite keeps in memory, so it must write them out before the commit.
  dbtest::RunSql(db,
                 "CREATE TABLE Many (City TEXT);"
                 "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 40000)"
                 " INSERT INTO Many SELECT printf('city %06d ', i) || hex(randomblob(40)) FROM n;");
  const std::string before = FileBytes(db);
  clitest::Result r;
  {
    dbtest::FileSizeLimit full(before.size());
    r = run({"export", db, "Many", "City", "Results", "-c", "3"});
  }
  EXPECT_EQ(r.code, kWriteFailed);
  EXPECT_EQ(Occurrences(r.err, "Nothing was changed in the database."), 1u) << r.err;
  EXPECT_EQ(r.err.find("rollback"), std::string::npos) << r.err;
  EXPECT_LE(Occurrences(r.err, "\n"), 2u) << "no line per value after the failure";
  EXPECT_NE(r.err.find("writing the values failed: the database rolled the whole export back "
                       "after refusing \"city "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("the database file '" + db + "'"), std::string::npos) << "the cause";
  EXPECT_EQ(FileBytes(db), before);
}

}  // namespace

// --long-text: the new column is a long-text column, so a value longer than 255 characters is
// kept; without it Access refuses the value (reported, the rest kept) and SQLite keeps it in its
// VARCHAR column as before.
TEST_F(ExportTest, LongTextKeepsLongValues) {
  const std::string longCity(300, 'x');
  dbtest::RunSql(db, "INSERT INTO Source VALUES ('A " + longCity + "');");
  auto r = run({"export", db, "Source", "City", "Long", "-c", "3", "--long-text"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE name = 'Long' AND sql LIKE "
                  "'%LONGTEXT%'"),
            1);
  EXPECT_EQ(count("SELECT length(City) FROM Long WHERE City LIKE 'A x%'"), 302);
  EXPECT_EQ(count("SELECT count(*) FROM Long WHERE typeof(City) <> 'text'"), 0);
  r = run({"export", db, "Source", "City", "Short", "-c", "3"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE name = 'Short' AND sql LIKE "
                  "'%VARCHAR%'"),
            1);
  // Only the export takes the option.
  EXPECT_EQ(run({"extract", db, "Source", "City", "-c", "3", "--long-text"}).code, kBadArguments);

  if (!testsupport::HaveFixtures()) {
    std::cerr << "Access fixtures folder absent (" << testsupport::FixturesDir()
              << "): the Access case is skipped\n";
    return;
  }
  // The fixture's one value is 5,000 characters of Lorem ipsum.
  const std::string access = dir.copyFixture("ace16-longtext.accdb");
  r = run({"export", access, "Table1", "LongText", "Refused", "-c", "3"});
  EXPECT_EQ(r.code, kWriteFailed);
  EXPECT_NE(r.err.find("value refused by the database, left out: \"Lorem ipsum"), std::string::npos)
      << r.err;
  r = run({"export", access, "Table1", "LongText", "Kept", "-c", "3", "--long-text"});
  EXPECT_EQ(r.code, kOk) << r.err;
  r = run({"preview", access, "Kept", "LongText", "-f", "json"});
  EXPECT_EQ(r.code, kOk) << r.err;
  auto source = run({"preview", access, "Table1", "LongText", "-f", "json"});
  EXPECT_EQ(r.out, source.out);
  EXPECT_GT(r.out.size(), 5000u);
}
