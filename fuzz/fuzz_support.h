// What the fuzz targets share: a scratch folder of the fuzzing process for the database files
// they write, and the reading that the program does on an opened database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "db/connection.h"

namespace fuzz {

// A path in the process's scratch folder (made on first use under $TMPDIR, removed at exit).
std::string ScratchFile(const std::string& name);

// Writes `size` bytes to ScratchFile(name) and returns its path. Aborts when it cannot.
std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);

// True when the bytes would open as a PostgreSQL connection file: the targets leave such inputs
// alone, since opening one connects to whatever server its text names.
bool NamesAServer(const std::uint8_t* data, std::size_t size);

// Removes everything in the scratch folder: the database, its journal and lock files.
void ClearScratch();

// The bytes of a file (empty when it cannot be read).
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);

// The user tables as the program lists them.
std::vector<std::string> UserTables(db::Connection& connection);

// Reads what the program's windows and command line read of one table: its field names, the
// first 100 values of each field (as text), and each field's distinct values with their
// count. At most `maxFields` fields. Throws db::Error.
void ReadTable(db::Connection& connection, const std::string& table, int maxFields);

// A mutation of a database file for LLVMFuzzerCustomMutator: half the time libFuzzer's own
// mutation of the whole input; otherwise libFuzzer's mutation of a few bytes where a page of
// 4096 bytes keeps its structure (an Access page's header with its row offsets, or its end,
// where the first rows and the page maps lie; a SQLite page's header and last cells), the
// file's size unchanged. Random changes over a file of hundreds of pages rarely meet those
// bytes otherwise.
std::size_t MutateDatabaseFile(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                               unsigned seed);

// Aborts with a message on standard error: a fuzz target's way of reporting a broken rule.
[[noreturn]] void Violation(const std::string& what);

}  // namespace fuzz
