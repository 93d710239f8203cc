// Three independent readings of an Access file in one comparable shape, so that tests can
// check that what our engine writes reads the same everywhere:
//   ReadWithMdbReader - the npm package mdb-reader, run by node on tests/node/dump.mjs;
//   ReadWithLibmdb    - libmdb's own row reader (mdb_fetch_row with bound columns);
//   ReadWithOurLayer  - our database layer (db::Connection, "SELECT * FROM" each table).
//
// Every reading lists the file's local, non-system tables sorted by name (byte order), each
// with its columns in the table's order and its rows in the order the reader met them. Values
// are locale-free text, or nothing for null:
//   integers and decimals plain ("-12.5"); single and double numbers as their shortest
//   round-trip digits without an exponent; currency as a plain decimal without trailing zeros;
//   dates as "YYYY-MM-DD HH:MM:SS" (".mmm" when the milliseconds are not zero); yes/no as
//   "true"/"false"; GUIDs as "{...}" in upper case; binary and OLE values as lower-case hex.
//   Attachment and multi-valued columns read as null everywhere (their data is in other tables).
// Columns are listed in the reader's own order: after a deleted column, libmdb and mdb-reader
// list them by their position in the row data, our layer in the table's own order, so
// FirstDifference matches columns by name.
// Column types use mdb-reader's names ("text", "memo", "long", ...); our layer does not tell
// types and leaves them empty.
// libmdb hands out an empty text for both null and a zero-length value: its reading gives null
// for both, so compare it with the others after BlankAsNull().
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace testsupport {

struct ReadColumn {
  std::string name;
  std::string type;  // empty when the reader does not tell
  bool operator==(const ReadColumn&) const = default;
};

using ReadRow = std::vector<std::optional<std::string>>;

struct ReadTable {
  std::string name;
  std::vector<ReadColumn> columns;
  std::vector<ReadRow> rows;
};

struct ReadDatabase {
  std::vector<ReadTable> tables;
  const ReadTable* find(const std::string& name) const;
};

// Why mdb-reader cannot be run here (node missing, or tests/node/node_modules not installed),
// or nothing when it can. Tests call ROWSIFTER_REQUIRE_MDB_READER() to skip visibly.
std::optional<std::string> MdbReaderUnavailable();

// Each reader throws std::runtime_error, naming the reader and its complaint, when it cannot
// read the file.
ReadDatabase ReadWithMdbReader(const std::string& path, const std::string& password = {});
ReadDatabase ReadWithLibmdb(const std::string& path);
ReadDatabase ReadWithOurLayer(const std::string& path, const std::string& password = {});

// The same reading with every empty text turned into null (to compare with libmdb's).
ReadDatabase BlankAsNull(ReadDatabase db);
// The same reading with the column types left out (to compare with our layer's).
ReadDatabase WithoutTypes(ReadDatabase db);
// The same reading as libmdb gives it, tables in name order: libmdb turns text into UTF-8 one
// UTF-16 unit at a time, so a character beyond the Basic Multilingual Plane (an emoji) reads as
// "??" there, in names as in values; our layer and mdb-reader read it whole.
ReadDatabase AsLibmdbReadsIt(ReadDatabase db);

// The first difference between two readings ("table 'T' row 3 column 'A': "x" against null"),
// or nothing when they agree. `what` names the two sides in the message.
std::optional<std::string> FirstDifference(const ReadDatabase& a, const ReadDatabase& b,
                                           const std::string& what = "first against second");

// Text of a single-precision number or a double as shortest round-trip digits, never with an
// exponent (exposed for the tests of this file).
std::string PlainNumberText(double value, bool single);
// An OLE date as "YYYY-MM-DD HH:MM:SS[.mmm]", rounded to the millisecond.
std::string OleDateText(double oleDate);
// A decimal text without leading zeros, trailing fraction zeros or a negative zero.
std::string CanonicalDecimal(const std::string& text);

}  // namespace testsupport

#define ROWSIFTER_REQUIRE_MDB_READER()                                           \
  do {                                                                           \
    if (auto why = ::testsupport::MdbReaderUnavailable())                        \
      GTEST_SKIP() << "mdb-reader cannot be run (" << *why << "): test skipped"; \
  } while (0)
