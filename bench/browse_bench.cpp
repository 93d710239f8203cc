// Times what the browsing clicks cost on a large table, and opening the largest Access file.
//
//   browse_bench [rows] [repeats]      (defaults: 1000000 rows, 200 repeats)
//
// Makes a SQLite file with a table `T` of many rows in the temp folder, then times
//   - a table click: open a connection (mode 3), open "SELECT * FROM `T`", read the field
//     names, close;
//   - a field click: open, "SELECT `F` FROM `T`", read 100 rows as text, close;
//   - opening the largest Access file of the fixtures folder and listing its tables.
// Each figure is shown in ms and as a ratio against a table click on a 100-row table of the same
// file, measured in the same run; a bare sqlite3_open_v2 + close is shown for scale.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "db/catalog.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/statements.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
  double mean = 0, median = 0, p95 = 0, max = 0;
};

Figures Time(int repeats, const std::function<void()>& work) {
  work();  // once untimed, so that every timed run finds the same caches
  std::vector<double> ms;
  ms.reserve(repeats);
  for (int i = 0; i < repeats; ++i) {
    auto start = Clock::now();
    work();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  Figures f;
  for (double m : ms) f.mean += m;
  f.mean /= ms.size();
  f.median = ms[ms.size() / 2];
  f.p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
  f.max = ms.back();
  return f;
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
  std::fprintf(stderr, "%s: %s\n", what, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  std::exit(1);
}

void MakeTable(sqlite3* db, const char* name, long long rows) {
  std::string create = std::string("CREATE TABLE ") + name +
                       "(id INTEGER PRIMARY KEY, name TEXT, city TEXT, amount REAL, "
                       "created TEXT, note TEXT)";
  Check(sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), db, "create");
  std::string insert = std::string("INSERT INTO ") + name + " VALUES (?, ?, ?, ?, ?, ?)";
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, insert.c_str(), -1, &stmt, nullptr), db, "prepare");
  static const char* const kCities[] = {"Paris", "New York", "O'Fallon", "Berlin", "Kyoto", "Lima"};
  for (long long i = 1; i <= rows; ++i) {
    std::string who = "Customer " + std::to_string(i);
    std::string note = "Note " + std::to_string(i * 7919 % 100003) + " with some words in it";
    std::string date = "2023-" + std::to_string(1 + i % 12) + "-" + std::to_string(1 + i % 28);
    sqlite3_bind_int64(stmt, 1, i);
    sqlite3_bind_text(stmt, 2, who.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 3, kCities[i % 6], -1, SQLITE_STATIC);
    sqlite3_bind_double(stmt, 4, (i % 100000) / 100.0);
    sqlite3_bind_text(stmt, 5, date.c_str(), -1, SQLITE_TRANSIENT);
    if (i % 10)
      sqlite3_bind_text(stmt, 6, note.c_str(), -1, SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(stmt, 6);
    Check(sqlite3_step(stmt), db, "insert");
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
}

void MakeDatabase(const std::string& path, long long rows) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  Check(sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr), db, "begin");
  MakeTable(db, "T", rows);
  MakeTable(db, "Small", 100);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_close(db);
}

// What a click on a table does with the layer.
void TableClick(const std::string& connectionString, const std::string& table) {
  db::Connection connection;
  connection.setMode(db::OpenMode::ReadWrite);
  connection.open(connectionString);
  auto rs = connection.openRecordset(db::TableFieldsStatement(table));
  std::size_t length = 0;
  for (int i = 0; i < rs->fieldCount(); ++i) length += rs->fieldName(i).size();
  if (length == 0) std::abort();
  rs->close();
  connection.close();
}

// What a click on a field does: the first 100 values as preview texts.
void FieldClick(const std::string& connectionString, const std::string& field,
                const std::string& table) {
  db::Connection connection;
  connection.setMode(db::OpenMode::ReadWrite);
  connection.open(connectionString);
  auto rs = connection.openRecordset(db::PreviewStatement(field, table));
  int shown = 0;
  std::size_t length = 0;
  for (; !rs->eof() && shown < 100; rs->moveNext(), ++shown)
    length += db::SqlValueText(rs->value(0), "").size();
  if (shown != 100 || length == 0) std::abort();
  rs->close();
  connection.close();
}

std::string LargestAccessFixture() {
  std::error_code ec;
  std::string best;
  std::uintmax_t bestSize = 0;
  for (const auto& entry : fs::directory_iterator(ROWSIFTER_FIXTURES_DIR, ec)) {
    std::string ext = entry.path().extension().string();
    if (ext != ".mdb" && ext != ".accdb") continue;
    if (entry.path().filename().string().find("encrypted") != std::string::npos) continue;
    std::uintmax_t size = entry.file_size(ec);
    if (!ec && size > bestSize) {
      bestSize = size;
      best = entry.path().string();
    }
  }
  return best;
}

void Print(const char* what, const Figures& f, double baseline, double goalMs) {
  std::printf("%-44s mean %8.3f ms  median %8.3f  p95 %8.3f  max %8.3f  x%.2f of baseline", what,
              f.mean, f.median, f.p95, f.max, f.mean / baseline);
  if (goalMs > 0) std::printf("  goal < %g ms: %s", goalMs, f.mean < goalMs ? "HOLDS" : "MISSED");
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  long long rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
  int repeats = argc > 2 ? std::atoi(argv[2]) : 200;
  std::string path =
      (fs::temp_directory_path() / ("rowsifter-bench-" + std::to_string(getpid()) + ".db"))
          .string();

  auto made = Clock::now();
  MakeDatabase(path, rows);
  std::printf("made %s: table T with %lld rows and 6 columns in %.1f s (%.1f MB)\n\n", path.c_str(),
              rows, std::chrono::duration<double>(Clock::now() - made).count(),
              fs::file_size(path) / 1e6);

  const std::string cs = db::BuildConnectionString(path, "");
  int failures = 0;
  try {
    Figures bare = Time(repeats, [&] {
      sqlite3* db = nullptr;
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
      sqlite3_close(db);
    });
    Figures baseline = Time(repeats, [&] { TableClick(cs, "Small"); });
    Figures table = Time(repeats, [&] { TableClick(cs, "T"); });
    Figures field = Time(repeats, [&] { FieldClick(cs, "city", "T"); });
    Figures lastField = Time(repeats, [&] { FieldClick(cs, "note", "T"); });

    double base = baseline.mean;
    std::printf("baseline: table click on the 100-row table Small, mean %.3f ms\n\n", base);
    Print("bare sqlite3_open_v2 + close", bare, base, 0);
    Print("table click on T (SELECT *, field names)", table, base, 50);
    Print("field click on T.city (100 rows as text)", field, base, 50);
    Print("field click on T.note (100 rows as text)", lastField, base, 50);
    failures += table.mean >= 50;
    failures += field.mean >= 50;
    failures += lastField.mean >= 50;

    std::string access = LargestAccessFixture();
    if (access.empty()) {
      std::printf("\nno Access fixtures in %s: opening the largest one not timed\n",
                  ROWSIFTER_FIXTURES_DIR);
    } else {
      std::string accessCs = db::BuildConnectionString(access, "");
      try {
        std::size_t tables = db::GetTableNames(access, accessCs)->size();
        Figures open = Time(repeats, [&] { db::GetTableNames(access, accessCs); });
        std::printf("\nlargest Access fixture: %s (%.0f KB, %zu user tables)\n", access.c_str(),
                    fs::file_size(access) / 1024.0, tables);
        Print("open + list tables of that file", open, base, 20);
        failures += open.mean >= 20;
      } catch (const db::Error& e) {
        std::printf("\nlargest Access fixture %s cannot be opened yet: %s\n", access.c_str(),
                    e.description().c_str());
        ++failures;
      }
    }
  } catch (const db::Error& e) {
    std::fprintf(stderr, "failed: %s\n", e.description().c_str());
    ++failures;
  }
  fs::remove(path);
  std::printf("\n%s\n", failures == 0 ? "all goals hold" : "some goals are not met");
  return failures == 0 ? 0 : 1;
}
