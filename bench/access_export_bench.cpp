// Export of 100,000 values into a new table of an Access file (Jet 4 .mdb and ACE .accdb copies
// of the fixtures) against the same export into a SQLite file, in the same run, through the
// database layer as the export does it: one transaction, one insert statement per value.
// Prints the times, the ratio to SQLite (goals: under 2 s, within 3x), the file growth against
// the bytes of the rows written (goal: at most 1.5x) and what our checker says of the file.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/access/check/checker.h"
#include "db/statements.h"

namespace {

constexpr int kValues = 100000;

std::string Value(int i) { return "value number " + std::to_string(i) + " of the export"; }

// Seconds for the export into `path`.
double Export(const std::string& path) {
  auto start = std::chrono::steady_clock::now();
  db::Connection c;
  c.setMode(db::OpenMode::ReadWrite);
  c.open(db::BuildConnectionString(path, ""));
  c.beginTrans();
  c.execute(db::CreateTableStatement("Results", "Value"));
  for (int i = 0; i < kValues; ++i) c.execute(db::InsertStatement("Results", Value(i)));
  c.commitTrans();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("access_export_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::size_t rowBytes = 0;  // the text of the rows as Access stores it uncompressed (UTF-16)
  for (int i = 0; i < kValues; ++i) rowBytes += 2 * Value(i).size();

  std::string sqlitePath = (dir / "bench.sqlite").string();
  sqlite3* s = nullptr;
  sqlite3_open(sqlitePath.c_str(), &s);
  sqlite3_exec(s, "CREATE TABLE seed (x)", nullptr, nullptr, nullptr);
  sqlite3_close(s);
  double sqliteSeconds = Export(sqlitePath);
  std::printf("SQLite: %d values in %.3f s\n", kValues, sqliteSeconds);

  int failed = 0;
  for (const char* name : {"jet4-nopassword-2003.mdb", "ace14-empty-2010.accdb"}) {
    fs::path copy = dir / name;
    fs::copy_file(fs::path(ROWSIFTER_FIXTURES_DIR) / name, copy);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
    auto before = fs::file_size(copy);
    double seconds = Export(copy.string());
    double growth =
        static_cast<double>(fs::file_size(copy) - before) / static_cast<double>(rowBytes);
    db::access::check::JetCheckReport report = db::access::check::CheckJetFile(copy.string());
    std::printf(
        "%s: %.3f s (goal < 2 s), %.2fx SQLite (goal <= 3x), growth %.2fx of %zu row "
        "bytes (goal <= 1.5x), checker: %zu problem(s)%s%s\n",
        name, seconds, seconds / sqliteSeconds, growth, rowBytes, report.problems.size(),
        report.ok() ? "" : ", first: ", report.ok() ? "" : report.problems[0].c_str());
    if (!report.ok()) ++failed;
  }
  fs::remove_all(dir);
  return failed ? 1 : 0;
}
