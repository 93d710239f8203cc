// Telling files apart by their first bytes, and the errors for files that are no database.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/base/engine.h"
#include "db/base/error.h"
#include "db/file_format.h"
#include "tests/db/sqlite_file.h"
#include "tests/support/fixtures.h"

namespace {

using db::FileFormat;
using testsupport::TempDir;

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The description of the db::Error that `open` throws; fails the test when it throws none.
template <typename F>
std::string ErrorOf(F open) {
  try {
    open();
  } catch (const db::Error& e) {
    return e.description();
  }
  ADD_FAILURE() << "no error";
  return {};
}

std::string OpenError(const std::string& path) {
  return ErrorOf([&] { db::OpenSession(path, "", db::OpenMode::ReadWrite); });
}

TEST(SniffFileFormat, TellsEachAccessFixtureByItsHeader) {
  ROWSIFTER_REQUIRE_FIXTURES();
  struct Case {
    const char* name;
    FileFormat format;
  } cases[] = {
      {"jet3-test.mdb", FileFormat::Jet3},         {"jet4-empty-2000.mdb", FileFormat::Jet4},
      {"jet4-empty-2003.mdb", FileFormat::Jet4},   {"jet4-password-2003.mdb", FileFormat::Jet4},
      {"jet4-numeric-2003.mdb", FileFormat::Jet4}, {"ace12-empty-2007.accdb", FileFormat::Ace},
      {"ace14-test-2010.accdb", FileFormat::Ace},  {"ace14-encrypted-2010.accdb", FileFormat::Ace},
      {"ace16-empty-2016.accdb", FileFormat::Ace}, {"ace-agile-encrypted.accdb", FileFormat::Ace},
  };
  for (const Case& c : cases)
    EXPECT_EQ(db::SniffFileFormat(testsupport::Fixture(c.name)), c.format) << c.name;
}

TEST(SniffFileFormat, TellsSqliteAndNothingElse) {
  TempDir dir;
  std::string sqlite = dir.file("data.accdb");  // the extension does not count
  dbtest::RunSql(sqlite, "CREATE TABLE t(x)");
  EXPECT_EQ(db::SniffFileFormat(sqlite), FileFormat::Sqlite);

  WriteBytes(dir.file("empty.mdb"), "");
  WriteBytes(dir.file("text.mdb"), "Standard Jet DB, or so this text file says\n");
  WriteBytes(dir.file("short.mdb"), std::string("\x00\x01\x00\x00Standard Jet", 16));
  WriteBytes(dir.file("sqlite-short.db"), "SQLite format");
  for (const char* name : {"empty.mdb", "text.mdb", "short.mdb", "sqlite-short.db"})
    EXPECT_EQ(db::SniffFileFormat(dir.file(name)), FileFormat::Unknown) << name;
}

TEST(SniffFileFormat, ReadsTheVersionByteOfAnAccessHeader) {
  std::string head("\x00\x01\x00\x00Standard Jet DB\x00\x00\x00\x00\x00", 24);
  auto sniff = [&](const std::string& bytes) {
    return db::SniffFileFormat(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  };
  EXPECT_EQ(sniff(head), FileFormat::Jet3);
  head[0x14] = 1;
  EXPECT_EQ(sniff(head), FileFormat::Jet4);
  head[0x14] = 5;
  EXPECT_EQ(sniff(head), FileFormat::Ace);
  EXPECT_EQ(sniff(head.substr(0, 0x14)), FileFormat::Unknown);  // no version byte yet
  head[1] = 2;
  EXPECT_EQ(sniff(head), FileFormat::Unknown);
}

TEST(OpenSession, NamesTheFileInEveryRefusal) {
  TempDir dir;
  WriteBytes(dir.file("empty.mdb"), "");
  WriteBytes(dir.file("notes.accdb"), "just some notes\n");

  std::string missing = dir.file("missing.mdb");
  EXPECT_NE(OpenError(missing).find(missing), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(missing));  // nothing was created

  std::string folder = dir.path().string();
  EXPECT_NE(OpenError(folder).find("is a folder"), std::string::npos);

  std::string empty = OpenError(dir.file("empty.mdb"));
  EXPECT_NE(empty.find(dir.file("empty.mdb")), std::string::npos) << empty;
  EXPECT_NE(empty.find("empty"), std::string::npos) << empty;

  std::string foreign = OpenError(dir.file("notes.accdb"));
  EXPECT_NE(foreign.find("Unrecognized database format"), std::string::npos) << foreign;
  EXPECT_NE(foreign.find(dir.file("notes.accdb")), std::string::npos) << foreign;

  EXPECT_FALSE(OpenError("").empty());
}

// A foreign or damaged file and a file that cannot be opened share their error number; only the
// kind tells them apart.
TEST(OpenSession, TellsAForeignFileFromAMissingOneByKindNotNumber) {
  TempDir dir;
  WriteBytes(dir.file("notes.accdb"), "just some notes\n");
  auto errorOf = [](const std::string& path) {
    try {
      db::OpenSession(path, "", db::OpenMode::Read);
    } catch (const db::Error& e) {
      return e;
    }
    return db::Error(0, "opened");
  };
  db::Error foreign = errorOf(dir.file("notes.accdb"));
  db::Error missing = errorOf(dir.file("missing.mdb"));
  EXPECT_EQ(foreign.number(), db::errc::kBadFormat);
  EXPECT_EQ(foreign.kind(), db::ErrorKind::kBadFormat);
  EXPECT_EQ(missing.number(), db::errc::kFailed);
  EXPECT_EQ(missing.kind(), db::ErrorKind::kOther);
}

TEST(OpenSession, RefusesAFileItCannotRead) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop reading";
  TempDir dir;
  std::string path = dir.file("locked.mdb");
  dbtest::RunSql(path, "CREATE TABLE t(x)");
  std::filesystem::permissions(path, std::filesystem::perms::none);
  EXPECT_NE(OpenError(path).find(path), std::string::npos);
}

TEST(OpenSession, FollowsTheSignatureNotTheNameOrProvider) {
  TempDir dir;
  std::string path = dir.file("really-sqlite.accdb");
  dbtest::RunSql(path, "CREATE TABLE t(x); INSERT INTO t VALUES (7)");
  db::Connection connection;
  connection.open(db::BuildConnectionString(path, "ignored"));
  auto rs = connection.openRecordset("SELECT x FROM t");
  EXPECT_EQ(rs->value(0), db::Value::Integer(7));
}

TEST(OpenSession, SendsAccessFilesToTheAccessEngine) {
  ROWSIFTER_REQUIRE_FIXTURES();
  // Whatever the Access engine makes of it, an Access file is never "unrecognized".
  TempDir dir;
  std::string copy = dir.copyFixture("jet4-empty-2003.mdb");
  std::string renamed = dir.file("renamed.sqlite");
  std::filesystem::rename(copy, renamed);
  try {
    db::OpenSession(renamed, "", db::OpenMode::Read);
  } catch (const db::Error& e) {
    EXPECT_EQ(e.description().find("Unrecognized database format"), std::string::npos);
  }
}

}  // namespace
