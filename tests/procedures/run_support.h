// Doubles for driving the extraction run and the export headless: a workspace in memory, a clock
// that advances on every round of events, and small helpers over SQLite files made by the tests.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "db/connection_string.h"
#include "extract/criteria.h"
#include "procedures/workspace.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_prompts.h"

namespace runtest {

using testsupport::FakeClock;

class FakeWorkspace : public procedures::Workspace {
 public:
  std::vector<std::string> fields;   // the field list
  std::optional<std::string> field;  // its selection
  std::optional<std::string> table;  // the table list's selection
  std::string criterion;
  std::string databasePath;

  std::vector<std::string> results;
  std::vector<int> progress;  // every value the bar was given
  std::string progressText = "(untouched)";
  std::vector<int> pointers;  // every pointer setting
  int clears = 0;
  int refills = 0;
  int connectionStringReads = 0;
  bool endingNow = false;  // the program is ending

  // Hooks for tests that need a control to misbehave.
  std::function<std::string(int call)> fieldOverride;   // call counts from 1
  std::function<void(const std::string&)> onAddResult;  // may throw

  int fieldCount() override { return static_cast<int>(fields.size()); }
  std::string selectedField() override {
    ++fieldReads_;
    if (fieldOverride) return fieldOverride(fieldReads_);
    if (!field) throw std::runtime_error("No field is selected.");
    return *field;
  }
  std::string selectedTable() override {
    if (!table) throw std::runtime_error("No table is selected.");
    return *table;
  }
  std::string criterionText() override { return criterion; }
  void clearResults() override {
    ++clears;
    results.clear();
  }
  void addResult(const std::string& text) override {
    if (onAddResult) onAddResult(text);
    results.push_back(text);
  }
  void setProgress(int percent) override { progress.push_back(percent); }
  void setProgressText(const std::string& text) override { progressText = text; }
  void setPointer(int value) override { pointers.push_back(value); }
  void refillTableList() override { ++refills; }
  std::string connectionString() override {
    ++connectionStringReads;
    return db::BuildConnectionString(databasePath, "");
  }
  bool ending() override { return endingNow; }

 private:
  int fieldReads_ = 0;
};

// A SQLite file made and read back with sqlite3 itself, independent of the layer under test.
class SqliteFile {
 public:
  explicit SqliteFile(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }

  void exec(const std::string& sql) const {
    sqlite3* db = open();
    char* message = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    std::string error = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    if (rc != SQLITE_OK) throw std::runtime_error("sqlite: " + error + " in " + sql);
  }

  // First column of every row, Null as nothing.
  std::vector<std::optional<std::string>> column(const std::string& sql) const {
    sqlite3* db = open();
    sqlite3_stmt* stmt = nullptr;
    std::vector<std::optional<std::string>> out;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      std::string error = sqlite3_errmsg(db);
      sqlite3_close(db);
      throw std::runtime_error("sqlite: " + error + " in " + sql);
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      if (sqlite3_column_type(stmt, 0) == SQLITE_NULL) {
        out.emplace_back();
      } else {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        out.emplace_back(std::string(text, sqlite3_column_bytes(stmt, 0)));
      }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return out;
  }

  std::vector<std::string> texts(const std::string& sql) const {
    std::vector<std::string> out;
    for (auto& v : column(sql)) out.push_back(v.value_or("<null>"));
    return out;
  }

  long long count(const std::string& table) const {
    return std::stoll(*column("SELECT count(*) FROM `" + table + "`").at(0));
  }

  bool hasTable(const std::string& table) const {
    std::string literal;
    for (char c : table) literal += c == '\'' ? std::string("''") : std::string(1, c);
    return !column("SELECT name FROM sqlite_master WHERE type = 'table' AND name = '" + literal +
                   "'")
                .empty();
  }

 private:
  sqlite3* open() const {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      std::string error = db ? sqlite3_errmsg(db) : "out of memory";
      sqlite3_close(db);
      throw std::runtime_error("sqlite: cannot open " + path_ + ": " + error);
    }
    return db;
  }

  std::string path_;
};

// Creates the table `Source` with the column `City` holding `values` (nothing for Null).
inline void FillSource(const SqliteFile& file,
                       const std::vector<std::optional<std::string>>& values) {
  std::string sql = "BEGIN; CREATE TABLE Source (Id INTEGER PRIMARY KEY, City TEXT);";
  for (const auto& v : values) {
    if (!v) {
      sql += "INSERT INTO Source (City) VALUES (NULL);";
      continue;
    }
    std::string quoted;
    for (char c : *v) {
      quoted += c;
      if (c == '\'') quoted += '\'';
    }
    sql += "INSERT INTO Source (City) VALUES ('" + quoted + "');";
  }
  sql += "COMMIT;";
  file.exec(sql);
}

// `count` distinct values "v000000", "v000001", ... in `Source`.`City`, made in SQL.
inline void FillNumberedSource(const SqliteFile& file, int count) {
  file.exec(
      "CREATE TABLE Source (Id INTEGER PRIMARY KEY, City TEXT);"
      "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " +
      std::to_string(count) + ") INSERT INTO Source (City) SELECT printf('v%06d', i) FROM n;");
}

inline std::string Text(extract::Criterion c) { return std::string(extract::CriterionText(c)); }

// Line numbers of the "Application Error" boxes, in order.
inline std::vector<int> ReportLines(const testsupport::ScriptedPrompts& prompts) {
  std::vector<int> lines;
  static const std::regex kLine("at line ([0-9]+)\r\r");
  for (const auto& m : prompts.errorReports()) {
    std::smatch match;
    if (std::regex_search(m.text, match, kLine)) lines.push_back(std::stoi(match[1]));
  }
  return lines;
}

inline std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// A workspace over a new SQLite file whose table Source has the fields Id and City, with City
// selected and "Contains Space(s)" chosen; scripted answers and a fake clock.
class WorkspaceTest : public ::testing::Test {
 protected:
  WorkspaceTest() : file(dir.file("data.sqlite")) {
    ws.databasePath = file.path();
    ws.fields = {"Id", "City"};
    ws.field = "City";
    ws.table = "Source";
    ws.criterion = Text(extract::Criterion::kContainsSpace);
  }

  std::vector<std::string> messageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : prompts.messages) out.push_back(m.text);
    return out;
  }

  testsupport::TempDir dir;
  SqliteFile file;
  FakeWorkspace ws;
  testsupport::ScriptedPrompts prompts;
  FakeClock clock;
};

}  // namespace runtest
