// The one walk over a field's distinct values: what it reads, tests and hands on, and how a
// driver's way of running the parts changes what a failing part does.
#include "extract/value_walk.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/connection_string.h"
#include "db/base/error.h"
#include "db/statements.h"
#include "tests/support/fixtures.h"

namespace extract {
namespace {

// Runs every part as it is and writes down what happened, row by row.
struct RecordingDriver {
  std::optional<Criterion> fixed;
  long long rows = -1;  // counted turns, or -1: walk to the end of the record set
  db::Recordset* records = nullptr;
  std::vector<std::string> log;

  bool more(long long row) const { return rows >= 0 ? row < rows : !records->eof(); }
  void beforeRow(long long row) { log.push_back("row " + std::to_string(row)); }
  template <class F>
  bool read(F&& part) {
    const bool present = part();
    if (!present) log.push_back("null");
    return present;
  }
  std::optional<Criterion> criterion() { return fixed; }
  template <class F>
  bool test(Criterion, F&& part) {
    return part();
  }
  template <class F>
  void keep(Criterion, F&& part) {
    part();
  }
  void afterRow(long long) {}
  template <class F>
  void next(F&& part) {
    part();
  }
};

// Like the windows' procedures: a failing part is written down and the walk goes on; a read
// that fails counts as a Null value.
struct ForgivingDriver : RecordingDriver {
  template <class F>
  bool read(F&& part) {
    try {
      return part();
    } catch (const db::Error&) {
      log.push_back("read failed");
      return false;
    }
  }
  template <class F>
  void next(F&& part) {
    try {
      part();
    } catch (const db::Error&) {
      log.push_back("next failed");
    }
  }
};

class ValueWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("walk.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    const char* sql =
        "CREATE TABLE T (V TEXT);"
        "INSERT INTO T VALUES ('a b'), (NULL), ('ab'), (' '), (12), ('a b'), ('x\ty');";
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    connection_.open(db::BuildConnectionString(path_, ""));
  }

  std::unique_ptr<db::Recordset> values() {
    return connection_.openRecordset(db::DistinctValuesStatement("V", "T"));
  }

  testsupport::TempDir dir_;
  std::string path_;
  db::Connection connection_;
};

TEST_F(ValueWalkTest, HandsOnEachDistinctValueThatMeetsTheCriterionAndSkipsNull) {
  struct Case {
    std::optional<Criterion> criterion;
    std::vector<std::string> kept;  // sorted
  };
  const std::vector<Case> cases = {
      {Criterion::kContainsSpace, {" ", "a b"}},
      {Criterion::kNotContainsSpace, {"12", "ab", "x\ty"}},
      {Criterion::kContainsNumeric, {"12"}},
      {Criterion::kContainsUserChars, {"a b", "ab"}},
      {std::nullopt, {}},
  };
  for (const Case& c : cases) {
    auto records = values();
    RecordingDriver driver;
    driver.fixed = c.criterion;
    driver.records = records.get();
    std::vector<std::string> kept;
    WalkValues(driver, records, Matcher(c.criterion, "A"),
               [&](std::string_view text) { kept.emplace_back(text); });
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, c.kept);
    // Six distinct values, one of them Null: six rows, each read once.
    EXPECT_EQ(std::count(driver.log.begin(), driver.log.end(), "null"), 1);
    EXPECT_EQ(driver.log.front(), "row 0");
    EXPECT_EQ(driver.log.back(), "row 5");
  }
}

TEST_F(ValueWalkTest, AFailingPartEndsThePlainWalkButNotAForgivingOne) {
  auto records = values();
  records->close();
  RecordingDriver plain;
  plain.rows = 3;
  int kept = 0;
  EXPECT_THROW(WalkValues(plain, records, Matcher(Criterion::kNotContainsTab, ""),
                          [&](std::string_view) { ++kept; }),
               db::Error);

  ForgivingDriver forgiving;
  forgiving.rows = 3;  // the windows walk the rows they counted, whatever happens
  WalkValues(forgiving, records, Matcher(Criterion::kNotContainsTab, ""),
             [&](std::string_view) { ++kept; });
  EXPECT_EQ(kept, 0);
  EXPECT_EQ(std::count(forgiving.log.begin(), forgiving.log.end(), "read failed"), 3);
  EXPECT_EQ(std::count(forgiving.log.begin(), forgiving.log.end(), "next failed"), 3);
}

}  // namespace
}  // namespace extract
