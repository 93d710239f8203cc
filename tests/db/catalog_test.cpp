#include <gtest/gtest.h>

#include "db/catalog.h"
#include "db/connection_string.h"
#include "db/base/error.h"
#include "tests/db/sqlite_file.h"
#include "tests/support/fixtures.h"

namespace {

using testsupport::TempDir;

TEST(FileExists, IsTrueOnlyWhenTheModifiedTimeCanBeRead) {
  TempDir dir;
  dbtest::RunSql(dir.file("a.db"), "CREATE TABLE t(x)");
  EXPECT_TRUE(db::FileExists(dir.file("a.db")));
  EXPECT_FALSE(db::FileExists(dir.file("b.db")));
  EXPECT_FALSE(db::FileExists(dir.file("no/such/folder/b.db")));
  EXPECT_FALSE(db::FileExists(""));
}

TEST(GetTableNames, GivesNothingForAMissingFileWithoutOpeningIt) {
  TempDir dir;
  std::string path = dir.file("gone.mdb");
  EXPECT_EQ(db::GetTableNames(path, db::BuildConnectionString(path, "")), std::nullopt);
}

TEST(GetTableNames, ListsUserTablesOnlySortedIgnoringCase) {
  TempDir dir;
  std::string path = dir.file("names.db");
  dbtest::RunSql(path, R"(
    CREATE TABLE orders(x); CREATE TABLE "Apple's Pie"(x); CREATE TABLE "b  c"(x);
    CREATE TABLE Customers(id INTEGER PRIMARY KEY AUTOINCREMENT);
    CREATE VIEW Aview AS SELECT 1;
  )");
  auto names = db::GetTableNames(path, db::BuildConnectionString(path, ""));
  ASSERT_TRUE(names);
  EXPECT_EQ(*names, (std::vector<std::string>{"Apple's Pie", "b  c", "Customers", "orders"}));
}

TEST(GetTableNames, GivesAnEmptyListForADatabaseWithoutTables) {
  TempDir dir;
  std::string path = dir.file("views-only.db");
  dbtest::RunSql(path, "CREATE VIEW v AS SELECT 1");
  auto names = db::GetTableNames(path, db::BuildConnectionString(path, ""));
  ASSERT_TRUE(names);
  EXPECT_TRUE(names->empty());
}

TEST(GetTableNames, PassesOnTheFailureOfAFileThatIsNoDatabase) {
  TempDir dir;
  std::string path = dir.file("notes.mdb");
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fputs("hello", f);
  std::fclose(f);
  EXPECT_THROW(db::GetTableNames(path, db::BuildConnectionString(path, "")), db::Error);
}

TEST(TableExists, IgnoresCaseButNotBlanksAndOnlyCountsTables) {
  TempDir dir;
  std::string path = dir.file("t.db");
  dbtest::RunSql(
      path, "CREATE TABLE Orders(x); CREATE TABLE \"Ärger\"(x); CREATE VIEW Recent AS SELECT 1");
  std::string cs = db::BuildConnectionString(path, "");
  for (const char* name : {"Orders", "ORDERS", "orders", "ärger", "ÄRGER"})
    EXPECT_TRUE(db::TableExists(cs, name)) << name;
  for (const char* name : {" Orders", "Orders ", "Recent", "sqlite_master", "Order", ""})
    EXPECT_FALSE(db::TableExists(cs, name)) << name;
}

TEST(TableExists, PassesOnAFailureToOpen) {
  TempDir dir;
  std::string path = dir.file("missing.db");
  EXPECT_THROW(db::TableExists(db::BuildConnectionString(path, ""), "x"), db::Error);
}

}  // namespace
