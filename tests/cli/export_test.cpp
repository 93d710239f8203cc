// export: the new table, --replace, the refusals, refused values and the all-or-nothing write.
#include <gtest/gtest.h>

#include "cli/exit_codes.h"
#include "tests/cli/cli_support.h"

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
  // The drop of an old table that the statement text cannot name fails: nothing is changed.
  dbtest::RunSql(db, "CREATE TABLE \"Back`tick\" (x TEXT); INSERT INTO \"Back`tick\" VALUES ('a');");
  auto r = run({"export", db, "Source", "City", "Back`tick", "-c", "3", "--replace"});
  EXPECT_EQ(r.code, kWriteFailed);
  EXPECT_NE(r.err.find("Nothing was changed"), std::string::npos);
  EXPECT_EQ(count("SELECT count(*) FROM \"Back`tick\""), 1);

  // A create that fails (the name is a view's) rolls the transaction back.
  dbtest::RunSql(db, "CREATE VIEW Cities AS SELECT City FROM Source;");
  r = run({"export", db, "Source", "City", "Cities", "-c", "3"});
  EXPECT_EQ(r.code, kWriteFailed);
  EXPECT_NE(r.err.find("creating the table 'Cities' failed"), std::string::npos);
  EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE name = 'Cities' AND type = 'view'"), 1);
}

}  // namespace
