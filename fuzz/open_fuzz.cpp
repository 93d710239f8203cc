// Opens the input as a database file, as the program does, and reads all it shows of it: the
// user tables, each table's fields, the preview of every field and its distinct values. Every
// failure must be a db::Error; anything else (a crash, a sanitizer report, another exception,
// a record count that disagrees with the rows read) stops the fuzzer.
//
// Built twice, as fuzz_open_access and fuzz_open_sqlite: the same reading, seeded with Access
// files or with SQLite files (the engine follows the file's signature either way).
#include <cstddef>
#include <cstdint>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/base/error.h"
#include "fuzz/fuzz_support.h"

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned seed) {
  return fuzz::MutateDatabaseFile(data, size, maxSize, seed);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (fuzz::NamesAServer(data, size)) return 0;  // no network from a fuzz input
  const std::string path = fuzz::WriteScratchFile("input.db", data, size);
  try {
    db::Connection connection;
    connection.setMode(db::OpenMode::Read);
    connection.open(db::BuildConnectionString(path, ""));
    int tables = 0;
    for (const std::string& table : fuzz::UserTables(connection)) {
      if (++tables > 16) break;  // enough to reach every kind of page; keeps a run short
      try {
        fuzz::ReadTable(connection, table, 32);
      } catch (const db::Error&) {
        // A damaged table: the others are still read, as the windows would.
      }
    }
  } catch (const db::Error&) {
  }
  fuzz::ClearScratch();
  return 0;
}
