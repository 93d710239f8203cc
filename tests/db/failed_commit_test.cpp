// A commit that fails on a full disk, on both engines: the transaction ends having kept nothing,
// the rollback that callers make after a failed commit then does nothing and reports nothing,
// and the connection goes on working. A rollback with no transaction behind it is still an
// error.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "db/access/write_session.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/access/write/file_env.h"
#include "tests/support/fault_env.h"
#include "db/access/format/header.h"
#include "db/statements.h"
#include "tests/db/file_size_limit.h"
#include "tests/db/sqlite_file.h"
#include "tests/support/fixtures.h"

namespace {

using testsupport::FileBytes;

// The export's statements: the new table and a few hundred rows, enough to need new pages.
void WriteResults(db::Connection& connection) {
  connection.execute(db::CreateTableStatement("Results", "City"));
  for (int i = 0; i < 300; ++i)
    connection.execute(db::InsertStatement("Results", "city number " + std::to_string(i)));
}

bool HasResults(db::Connection& connection) {
  for (const db::CatalogRow& row : connection.tables())
    if (row.name == "Results") return true;
  return false;
}

struct Engine {
  const char* name;
  std::string (*make)(const testsupport::TempDir& dir);
};

const Engine kEngines[] = {
    {"SQLite",
     [](const testsupport::TempDir& dir) {
       std::string path = dir.file("shop.sqlite");
       dbtest::RunSql(path, "CREATE TABLE Cities (City TEXT); INSERT INTO Cities VALUES ('Oslo');");
       return path;
     }},
    {"Access",
     [](const testsupport::TempDir& dir) { return dir.copyFixture("jet4-nopassword-2003.mdb"); }}};

TEST(FailedCommit, EndsTheTransactionSoTheRollbackAfterItHasNothingToDo) {
  for (const Engine& engine : kEngines) {
    SCOPED_TRACE(engine.name);
    if (std::string(engine.name) == "Access" && !testsupport::HaveFixtures()) {
      std::cerr << "Access fixtures folder absent (" << testsupport::FixturesDir()
                << "): the Access case is skipped\n";
      continue;
    }
    testsupport::TempDir dir;
    const std::string path = engine.make(dir);
    const std::string before = FileBytes(path);
    db::Connection connection;
    connection.setMode(db::OpenMode::ReadWrite);
    connection.open(db::BuildConnectionString(path, ""));

    connection.beginTrans();
    WriteResults(connection);
    std::string message;
    {
      dbtest::FileSizeLimit full(before.size());  // the file cannot grow: the disk is full
      try {
        connection.commitTrans();
      } catch (const db::Error& e) {
        message = e.description();
      }
    }
    ASSERT_FALSE(message.empty()) << "the commit should not fit";
    EXPECT_NO_THROW(connection.rollbackTrans()) << "nothing left to roll back";
    EXPECT_EQ(FileBytes(path), before);
    EXPECT_FALSE(HasResults(connection));
    EXPECT_THROW(connection.rollbackTrans(), db::Error) << "no transaction, no failed commit";

    // The connection works on: the same export now fits.
    connection.beginTrans();
    WriteResults(connection);
    connection.commitTrans();
    EXPECT_TRUE(HasResults(connection));
    EXPECT_THROW(connection.rollbackTrans(), db::Error) << "a commit that went through";
  }
}

// The Access session itself, with disks that fill at several points of the commit: before the
// journal, inside it, and while the pages go into the file.
TEST(FailedCommit, AccessSessionKeepsNothingWhereverTheDiskFills) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (std::uint64_t budget : {0ull, 4096ull, 4096ull * 3, 4096ull * 12}) {
    SCOPED_TRACE(budget);
    testsupport::TempDir dir;
    const std::string path = dir.copyFixture("jet4-nopassword-2003.mdb");
    const std::string before = FileBytes(path);
    std::optional<db::access::format::JetHeader> header = db::access::format::ParseJetHeader(
        reinterpret_cast<const unsigned char*>(before.data()), before.size());
    ASSERT_TRUE(header);
    testsupport::FaultEnv env;
    env.setGrowthBudget(budget);
    db::access::AccessWriteSession session(path, *header, db::OpenMode::ReadWrite, env);
    session.begin();
    session.execute(db::access::sql::ParseAccessStatement(db::DropTableStatement("Table1")));
    session.execute(
        db::access::sql::ParseAccessStatement(db::CreateTableStatement("Results", "City")));
    for (int i = 0; i < 2000; ++i)
      session.execute(db::access::sql::ParseAccessStatement(
          db::InsertStatement("Results", "city number " + std::to_string(i))));
    EXPECT_THROW(session.commit(), db::Error);
    EXPECT_FALSE(session.inTransaction());
    EXPECT_NO_THROW(session.rollback());
    EXPECT_THROW(session.rollback(), db::Error);
    EXPECT_EQ(FileBytes(path), before);
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
  }
}

}  // namespace
