// Names that are not plain words reach the database as names, through every command: SQLite
// tables and fields whose names hold backticks, quotes, brackets, spaces, semicolons or SQL text
// are listed, read and written into under exactly those names; an Access file refuses the
// names it cannot hold, clearly and without a change.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "tests/cli/cli_support.h"

namespace {

using namespace cli::exitcode;
using dbtest::QueryNumber;

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// For the SQL the tests run with libsqlite3 themselves: a name between double quotes and a text
// between apostrophes, the quote doubled inside.
std::string Quoted(const std::string& text, char quote) {
  std::string out(1, quote);
  for (char c : text) {
    out += c;
    if (c == quote) out += quote;
  }
  return out + quote;
}
std::string SqlName(const std::string& name) { return Quoted(name, '"'); }
std::string SqlText(const std::string& text) { return Quoted(text, '\''); }

using testsupport::FileBytes;

// Each is the name of a table and of its text field.
const std::vector<std::string> kOddNames = {"Back`tick",
                                            "`",
                                            "``",
                                            "say \"hi\"",
                                            "it's",
                                            "[br]acket",
                                            "semi;colon",
                                            " spaced out ",
                                            "drop` ; DROP TABLE People; --",
                                            "a`b"};

// The text that once made the new table a copy of People.
const char kInjection[] = "x` AS SELECT * FROM people --";

class NamesTest : public clitest::CliTest {
 protected:
  NamesTest() {
    std::string sql =
        "CREATE TABLE People (City TEXT); INSERT INTO People VALUES ('New York'), ('Oslo');";
    for (const std::string& name : kOddNames)
      sql += "CREATE TABLE " + SqlName(name) + " (Id INTEGER, " + SqlName(name) + " TEXT);" +
             "INSERT INTO " + SqlName(name) + " VALUES (1, " + SqlText(Value(name)) +
             "), (2, 'plain'), (3, " + SqlText(Value(name)) + ");";
    db = makeDatabase(sql);
  }

  static std::string Value(const std::string& name) { return "North " + name; }

  long long tablesNamed(const std::string& name) {
    return QueryNumber(
        db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = " + SqlText(name));
  }
  long long tableCount() {
    return QueryNumber(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table'");
  }

  std::string db;
};

TEST_F(NamesTest, SqliteTablesAndFieldsOfAnyNameAreListedReadAndExportedInto) {
  auto r = run({"tables", db});
  EXPECT_EQ(r.code, kOk) << r.err;
  std::vector<std::string> expected = kOddNames;
  expected.push_back("People");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(SortedLines(r.out), expected);

  for (const std::string& name : kOddNames) {
    SCOPED_TRACE(name);
    r = run({"fields", db, name});
    EXPECT_EQ(r.code, kOk) << r.err;
    EXPECT_EQ(r.out, "Id\n" + name + "\n");

    r = run({"preview", db, name, name});
    EXPECT_EQ(r.code, kOk) << r.err;
    EXPECT_EQ(r.out, Value(name) + "\nplain\n" + Value(name) + "\n");

    r = run({"extract", db, name, name, "-c", "3"});  // contains a space
    EXPECT_EQ(r.code, kOk) << r.err;
    EXPECT_EQ(r.out, Value(name) + "\n");

    // Into a new table of an odd name, then over it with --replace.
    const std::string target = name + " out";
    for (bool replace : {false, true}) {
      std::vector<std::string> args = {"export", db, name, name, target, "-c", "3"};
      if (replace) args.push_back("--replace");
      r = run(args);
      EXPECT_EQ(r.code, kOk) << r.err;
      EXPECT_EQ(tablesNamed(target), 1);
      EXPECT_EQ(QueryNumber(db, "SELECT count(*) FROM " + SqlName(target) + " WHERE " +
                                    SqlName(name) + " = " + SqlText(Value(name))),
                1);
      EXPECT_EQ(QueryNumber(db, "SELECT count(*) FROM " + SqlName(target)), 1);
    }
  }
  EXPECT_EQ(tableCount(), 1 + 2 * static_cast<long long>(kOddNames.size())) << "nothing else";
  EXPECT_EQ(QueryNumber(db, "SELECT count(*) FROM People"), 2);
}

TEST_F(NamesTest, SqlTextAsANewTableNameMakesATableOfExactlyThatName) {
  const long long before = tableCount();
  auto r = run({"export", db, "People", "City", kInjection, "-c", "3"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(r.err.find("refused"), std::string::npos) << r.err;
  EXPECT_EQ(tableCount(), before + 1);
  EXPECT_EQ(tablesNamed(kInjection), 1);
  EXPECT_EQ(tablesNamed("x"), 0);
  EXPECT_EQ(
      QueryNumber(db, "SELECT count(*) FROM " + SqlName(kInjection) + " WHERE City = 'New York'"),
      1);
  EXPECT_EQ(QueryNumber(db, "SELECT count(*) FROM pragma_table_info(" + SqlText(kInjection) + ")"),
            1)
      << "one column, City";
}

// Access names cannot hold a backtick, brackets, a point or an exclamation mark: such a new
// table is refused with the engine's own words and the file is left as it was. Other odd
// characters are Access's to take.
TEST_F(NamesTest, AccessRefusesTheNamesItCannotHoldAndChangesNothing) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::string access = dir.copyFixture("jet4-nopassword-2003.mdb");
  const std::string before = FileBytes(access);
  for (const std::string name : {"a`b", "`", kInjection, "[x]", "drop` ; DROP TABLE Table1; --"}) {
    SCOPED_TRACE(name);
    auto r = run({"export", access, "Table1", "Data", name, "-c", "9"});
    EXPECT_EQ(r.code, kWriteFailed);
    EXPECT_NE(r.err.find("is not a valid name"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Nothing was changed in the database."), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("rollback"), std::string::npos) << r.err;
    EXPECT_EQ(FileBytes(access), before);

    r = run({"preview", access, name, "Data"});
    EXPECT_EQ(r.code, kNotFound) << r.err;
  }

  // Names of Access's own tables: such a table would be listed apart from the user's (so
  // never found to be replaced) and, for "MSys", closed to the values.
  for (const std::string name : {"MSysDb", "msys_custom", "~Result"}) {
    SCOPED_TRACE(name);
    for (bool replace : {false, true}) {
      std::vector<std::string> args = {"export", access, "Table1", "Data", name, "-c", "9"};
      if (replace) args.push_back("--replace");
      auto r = run(args);
      EXPECT_EQ(r.code, kWriteFailed);
      EXPECT_NE(r.err.find("are kept for Access's own tables"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("Nothing was changed in the database."), std::string::npos) << r.err;
      EXPECT_EQ(FileBytes(access), before);
    }
  }

  auto r = run({"export", access, "Table1", "Data", "it's; \"odd\" (x)", "-c", "9"});
  EXPECT_EQ(r.code, kOk) << r.err;
  r = run({"preview", access, "it's; \"odd\" (x)", "Data"});
  EXPECT_EQ(SortedLines(r.out), (std::vector<std::string>{"One", "Three", "Two"}));
}

}  // namespace
