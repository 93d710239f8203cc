// Helpers for the tests that write Access files through the engine (db::OpenSession and
// db::Connection): the export's sequence of statements, the file's tables and a column, whole
// files as bytes, and the three outside readings compared with the checker's verdict.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "db/catalog.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/base/engine.h"
#include "db/base/error.h"
#include "db/access/check/checker.h"
#include "db/statements.h"
#include "tests/support/outside_readers.h"

namespace enginetest {

inline std::unique_ptr<db::Session> OpenRw(const std::string& path, const std::string& pw = "") {
  return db::OpenSession(path, pw, db::OpenMode::ReadWrite);
}

inline std::vector<std::string> UserTables(db::Session& s) {
  std::vector<std::string> out;
  for (const db::CatalogRow& r : s.tables())
    if (r.type == "TABLE") out.push_back(r.name);
  return out;
}

inline bool Lists(db::Session& s, const std::string& table) {
  std::vector<std::string> t = UserTables(s);
  return std::find(t.begin(), t.end(), table) != t.end();
}

inline std::vector<std::string> Column(db::Session& s, const std::string& table) {
  auto cursor = s.query("SELECT * FROM `" + table + "`");
  std::vector<std::string> out;
  std::vector<db::Value> row;
  while (cursor->next(row)) out.push_back(row.at(0).isNull() ? "<null>" : row.at(0).text());
  return out;
}

inline std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What the export does on its own connection: the existence test, a transaction around the
// drop of an old table, the creation and one insert per value, then the commit. Values the
// database refuses are counted and left out, as the export reports and skips them.
inline int ExportValues(const std::string& path, const std::string& table,
                        const std::vector<std::string>& values, const std::string& pw = "") {
  const std::string cs = db::BuildConnectionString(path, pw);
  db::Connection connection;
  connection.setMode(db::OpenMode::ReadWrite);
  connection.open(cs);
  bool exists = db::TableExists(cs, table);
  connection.beginTrans();
  if (exists) connection.execute(db::DropTableStatement(table));
  connection.execute(db::CreateTableStatement(table, "Value"));
  int refused = 0;
  for (const std::string& v : values) {
    try {
      connection.execute(db::InsertStatement(table, v));
    } catch (const db::Error&) {
      ++refused;
    }
  }
  connection.commitTrans();
  return refused;
}

// The file reads the same through mdb-reader (when it can run), libmdb and our layer, and our
// checker finds nothing wrong with it. Gives the checker's leaked pages.
inline std::size_t ExpectSoundFile(const std::string& path, const std::string& pw = "") {
  using namespace testsupport;
  ReadDatabase libmdb = ReadWithLibmdb(path);
  ReadDatabase ours = ReadWithOurLayer(path, pw);
  EXPECT_EQ(FirstDifference(BlankAsNull(ours), WithoutTypes(libmdb), "our layer against libmdb"),
            std::nullopt);
  if (!MdbReaderUnavailable()) {
    ReadDatabase outside = ReadWithMdbReader(path, pw);
    EXPECT_EQ(FirstDifference(WithoutTypes(outside), ours, "mdb-reader against our layer"),
              std::nullopt);
  }
  db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
  for (const std::string& p : report.problems) ADD_FAILURE() << path << ": " << p;
  return report.leakedPages.size();
}

// The error number `f` throws (its description into `message`), or 0 when it throws none.
inline long ErrorNumber(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const db::Error& e) {
    if (message) *message = e.description();
    return e.number();
  }
  return 0;
}

// Appends the UTF-8 form of the code point `c`.
inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace enginetest
