// The SQLite engine through the layer, on files the tests make.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/sqlite/sqlite_engine.h"
#include "db/statements.h"
#include "tests/db/sqlite_file.h"
#include "tests/support/fixtures.h"

namespace {

using db::CatalogRow;
using db::Value;

class SqliteEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("shop.db");
    dbtest::RunSql(path_, R"(
      CREATE TABLE Zeta(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT);
      CREATE TABLE alpha(x);
      CREATE TABLE "Beta Orders"(`Customer Name` TEXT, `O'Hara` REAL);
      CREATE INDEX zeta_name ON Zeta(name);
      CREATE VIEW big_orders AS SELECT * FROM "Beta Orders";
      CREATE TRIGGER t1 AFTER INSERT ON alpha BEGIN SELECT 1; END;
      INSERT INTO Zeta(name) VALUES ('one'), ('two'), ('three');
      CREATE TABLE mixed(v);
      INSERT INTO mixed VALUES (42), (-9007199254740993), (3.25), ('It''s ü'), (x'00ff41'), (NULL);
    )");
  }

  std::unique_ptr<db::Connection> Open(db::OpenMode mode = db::OpenMode::ReadWrite) {
    auto connection = std::make_unique<db::Connection>();
    connection->setMode(mode);
    connection->open(db::BuildConnectionString(path_, ""));
    return connection;
  }

  // The number and description of the db::Error that `work` throws.
  template <typename F>
  static db::Error ErrorOf(F work) {
    try {
      work();
    } catch (const db::Error& e) {
      return e;
    }
    ADD_FAILURE() << "no error";
    return db::Error(0, "");
  }

  testsupport::TempDir dir_;
  std::string path_;
};

TEST_F(SqliteEngine, ListsTablesViewsAndSystemTablesInOneOrder) {
  std::vector<CatalogRow> expected = {
      {"SYSTEM TABLE", "sqlite_master"},
      {"SYSTEM TABLE", "sqlite_sequence"},
      {"TABLE", "alpha"},
      {"TABLE", "Beta Orders"},
      {"TABLE", "mixed"},
      {"TABLE", "Zeta"},
      {"VIEW", "big_orders"},
  };
  EXPECT_EQ(Open()->tables(), expected);
}

TEST_F(SqliteEngine, HandsOutValuesWithTheirTypes) {
  auto rs = Open()->openRecordset("SELECT v FROM mixed");
  std::vector<Value> values;
  for (; !rs->eof(); rs->moveNext()) values.push_back(rs->value(0));
  std::vector<Value> expected = {
      Value::Integer(42),
      Value::Integer(-9007199254740993LL),
      Value::Double(3.25),
      Value::Text("It's \xC3\xBC"),
      Value::Binary(std::string("\x00\xff"
                                "A",
                                3)),
      Value::Null(),
  };
  EXPECT_EQ(values, expected);
}

TEST_F(SqliteEngine, RunsTheProgramsStatementsWithBacktickedNames) {
  auto connection = Open();
  auto fields = connection->openRecordset(db::TableFieldsStatement("Beta Orders"));
  ASSERT_EQ(fields->fieldCount(), 2);
  EXPECT_EQ(fields->fieldName(0), "Customer Name");
  EXPECT_EQ(fields->fieldName(1), "O'Hara");
  EXPECT_TRUE(fields->eof());
  EXPECT_EQ(fields->recordCount(), 0);

  connection->execute(db::CreateTableStatement(" Results ", "name"));
  connection->execute(db::InsertStatement(" Results ", "O'Brien"));
  connection->execute(db::InsertStatement(" Results ", "O'Brien"));
  auto distinct = connection->openRecordset(db::DistinctValuesStatement("name", " Results "));
  EXPECT_EQ(distinct->recordCount(), 1);
  EXPECT_EQ(distinct->value(0), Value::Text("O'Brien"));
  connection->execute(db::DropTableStatement(" Results "));
  EXPECT_EQ(connection->tables().size(), 7u);
}

TEST_F(SqliteEngine, CountsARecordSetWithoutMovingIt) {
  auto rs = Open()->openRecordset(db::PreviewStatement("name", "Zeta"));
  rs->moveNext();
  EXPECT_EQ(rs->recordCount(), 3);
  EXPECT_EQ(rs->value(0), Value::Text("two"));
  rs->moveNext();
  EXPECT_EQ(rs->value(0), Value::Text("three"));
  rs->moveNext();
  EXPECT_TRUE(rs->eof());
}

TEST_F(SqliteEngine, ReadsRowsOnlyWhenAskedFor) {
  // The second row fails to compute, so only a reader that goes past the first row sees it.
  auto rs = Open()->openRecordset(
      "SELECT CASE WHEN id = 2 THEN abs(-9223372036854775807 - 1) ELSE id END FROM Zeta ORDER BY "
      "id");
  EXPECT_EQ(rs->value(0), Value::Integer(1));
  db::Error error = ErrorOf([&] { rs->moveNext(); });
  EXPECT_NE(error.description().find("overflow"), std::string::npos) << error.description();
}

TEST_F(SqliteEngine, RecordSetKeepsItsSessionAlive) {
  std::unique_ptr<db::Recordset> rs;
  {
    auto connection = Open();
    rs = connection->openRecordset("SELECT name FROM Zeta ORDER BY id");
    connection->close();
  }
  rs->moveNext();
  EXPECT_EQ(rs->value(0), Value::Text("two"));
}

TEST_F(SqliteEngine, ReportsBadStatementsClearly) {
  auto connection = Open();
  db::Error missing = ErrorOf([&] { connection->openRecordset("SELECT * FROM `Nowhere`"); });
  EXPECT_EQ(missing.number(), db::errc::kNoSuchObject);
  EXPECT_NE(missing.description().find("Nowhere"), std::string::npos);

  db::Error field = ErrorOf([&] { connection->openRecordset("SELECT `nope` FROM `Zeta`"); });
  EXPECT_EQ(field.number(), db::errc::kNoSuchObject);

  EXPECT_EQ(ErrorOf([&] { connection->openRecordset("SELEC * FROM Zeta"); }).number(),
            db::errc::kSyntax);
  EXPECT_EQ(ErrorOf([&] { connection->execute("SELECT * FROM `a`b`"); }).number(),
            db::errc::kSyntax);
  db::Error odd = ErrorOf([&] { connection->execute(db::TableFieldsStatement("a`b")); });
  EXPECT_EQ(odd.number(), db::errc::kNoSuchObject) << "a name, however odd";
  EXPECT_NE(odd.description().find("a`b"), std::string::npos) << odd.description();
  EXPECT_EQ(ErrorOf([&] { connection->execute(""); }).number(), db::errc::kSyntax);

  // A second statement is refused, not dropped silently; a trailing comment is fine.
  ErrorOf([&] { connection->execute("DELETE FROM alpha; DROP TABLE Zeta"); });
  EXPECT_EQ(connection->openRecordset("SELECT count(*) FROM Zeta; -- the end")->value(0),
            Value::Integer(3));

  // A statement without rows is no record set.
  ErrorOf([&] { connection->openRecordset("DELETE FROM Zeta"); });
  EXPECT_EQ(dbtest::QueryNumber(path_, "SELECT count(*) FROM Zeta"), 3);
}

TEST_F(SqliteEngine, ReadModeRefusesWritesAndNeverCreatesAFile) {
  auto reader = Open(db::OpenMode::Read);
  db::Error error = ErrorOf([&] { reader->execute("DELETE FROM Zeta"); });
  EXPECT_NE(error.description().find("reading only"), std::string::npos) << error.description();
  EXPECT_EQ(dbtest::QueryNumber(path_, "SELECT count(*) FROM Zeta"), 3);

  std::string missing = dir_.file("never.db");
  EXPECT_THROW(db::OpenSqliteSession(missing, db::OpenMode::ReadWrite), db::Error);
  EXPECT_THROW(db::OpenSqliteSession(missing, db::OpenMode::Read), db::Error);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(SqliteEngine, RefusesADamagedFileWhenOpening) {
  std::string damaged = dir_.file("damaged.db");
  std::filesystem::copy_file(path_, damaged);
  {
    std::FILE* f = std::fopen(damaged.c_str(), "r+b");
    std::fseek(f, 100, SEEK_SET);  // the first page's b-tree header
    std::fputs("garbage garbage garbage", f);
    std::fclose(f);
  }
  db::Connection connection;
  db::Error error = ErrorOf([&] { connection.open(db::BuildConnectionString(damaged, "")); });
  EXPECT_NE(error.description().find(damaged), std::string::npos) << error.description();
  EXPECT_FALSE(connection.isOpen());
}

TEST_F(SqliteEngine, TransactionsCommitAndRollBack) {
  auto connection = Open();
  connection->beginTrans();
  connection->execute("INSERT INTO alpha VALUES (1)");
  connection->rollbackTrans();
  connection->beginTrans();
  connection->execute("INSERT INTO alpha VALUES (2)");
  connection->commitTrans();
  EXPECT_EQ(dbtest::QueryNumber(path_, "SELECT group_concat(x) FROM alpha"), 2);
  EXPECT_THROW(connection->commitTrans(), db::Error);  // none open
}

// A failure that makes SQLite end the transaction by itself must not let the following
// statements commit one by one: here a trigger rolls everything back on 'boom'.
TEST_F(SqliteEngine, StatementsAfterTheDatabaseRolledTheTransactionBackAreRefused) {
  dbtest::RunSql(path_,
                 "CREATE TABLE log(v); CREATE TRIGGER stop BEFORE INSERT ON log "
                 "WHEN new.v = 'boom' BEGIN SELECT RAISE(ROLLBACK, 'boom'); END;");
  auto connection = Open();
  connection->beginTrans();
  connection->execute("INSERT INTO log VALUES ('a')");
  EXPECT_THROW(connection->execute("INSERT INTO log VALUES ('boom')"), db::Error);
  EXPECT_THROW(connection->execute("INSERT INTO log VALUES ('b')"), db::Error);
  EXPECT_THROW(connection->openRecordset("SELECT v FROM log"), db::Error);
  EXPECT_THROW(connection->commitTrans(), db::Error);
  EXPECT_EQ(dbtest::QueryNumber(path_, "SELECT count(*) FROM log"), 0);

  // The connection is usable again afterwards, inside and outside a transaction.
  connection->execute("INSERT INTO log VALUES ('c')");
  connection->beginTrans();
  EXPECT_THROW(connection->execute("INSERT INTO log VALUES ('boom')"), db::Error);
  connection->rollbackTrans();
  EXPECT_EQ(dbtest::QueryNumber(path_, "SELECT count(*) FROM log"), 1);
}

TEST_F(SqliteEngine, ALockedDatabaseGivesAClearErrorAfterWaiting) {
  auto connection = Open();
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

  auto start = std::chrono::steady_clock::now();
  db::Error error = ErrorOf([&] { connection->execute("INSERT INTO alpha VALUES (3)"); });
  auto waited = std::chrono::steady_clock::now() - start;
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);

  EXPECT_NE(error.description().find("locked"), std::string::npos) << error.description();
  EXPECT_GE(waited, std::chrono::seconds(1));
}

}  // namespace
