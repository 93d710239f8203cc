// The program's statements as the PostgreSQL engine hands them to the server, and the two
// shapes it takes another road for; the connection file's rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "db/base/error.h"
#include "db/file_format.h"
#include "db/postgres/connection_file.h"
#include "db/postgres/dialect.h"
#include "db/statements.h"
#include "tests/support/fixtures.h"

namespace {

using db::postgres::StatementKind;
using db::postgres::Translate;

TEST(PostgresDialect, TheProgramsStatementsReachTheServerWithEveryNameWhole) {
  struct Case {
    std::string sql, expected;
    StatementKind kind;
  };
  const std::vector<Case> cases = {
      {db::TableFieldsStatement("Orders"), "SELECT * FROM \"Orders\"", StatementKind::kQuery},
      {db::PreviewStatement("Customer Name", "O'Hara"), "SELECT \"Customer Name\" FROM \"O'Hara\"",
       StatementKind::kQuery},
      {db::DistinctValuesStatement("a\"b", "x`y"), "SELECT distinct \"a\"\"b\" FROM \"x`y\"",
       StatementKind::kQuery},
      {db::DistinctValuesStatement("Grüße 表", "🙂"),
       "SELECT distinct \"Grüße 表\" FROM \"🙂\"", StatementKind::kQuery},
      {db::DropTableStatement("Old \"one\""), "DROP TABLE \"Old \"\"one\"\"\"",
       StatementKind::kOther},
      {db::CreateTableStatement("New", "Field"), "CREATE TABLE \"New\" (\"Field\" pg_catalog.text)",
       StatementKind::kOther},
      {db::CreateTableStatement("New", "F`", true), "CREATE TABLE \"New\" (\"F`\" pg_catalog.text)",
       StatementKind::kOther},
      // A name that looks like SQL stays a name.
      {db::DropTableStatement("x\"; DROP TABLE y; --"), "DROP TABLE \"x\"\"; DROP TABLE y; --\"",
       StatementKind::kOther},
      {"SELECT 'it''s `not a name`' AS \"v\";", "SELECT 'it''s `not a name`' AS \"v\"",
       StatementKind::kQuery},
      {"with q as (select 1) select * from q", "with q as (select 1) select * from q",
       StatementKind::kQuery},
  };
  for (const Case& c : cases) {
    const db::postgres::Statement s = Translate(c.sql);
    EXPECT_EQ(s.text, c.expected) << c.sql;
    EXPECT_EQ(s.kind, c.kind) << c.sql;
  }
}

TEST(PostgresDialect, InsertsGiveTheirTableAndValueForTheBulkLoad) {
  // Seeded random values of every byte but NUL, apostrophes and backslashes among them.
  std::mt19937 random(20240612);
  for (int round = 0; round < 500; ++round) {
    std::string value, table;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) {
      const int pick = static_cast<int>(random() % 8);
      value += pick == 0   ? '\''
               : pick == 1 ? '\\'
               : pick == 2 ? '`'
                           : static_cast<char>(1 + random() % 255);
    }
    for (int i = 0; i < 1 + static_cast<int>(random() % 10); ++i)
      table += static_cast<char>(random() % 4 == 0 ? '`' : 'a' + random() % 26);
    const db::postgres::Statement s = Translate(db::InsertStatement(table, value));
    ASSERT_EQ(s.kind, StatementKind::kInsert) << db::InsertStatement(table, value);
    EXPECT_EQ(s.table, table);
    EXPECT_EQ(s.value, value);
  }
  // The same shape written otherwise is read the same way.
  const db::postgres::Statement spaced = Translate("INSERT INTO `a``b`  VALUES ( 'x''y' ) ;");
  EXPECT_EQ(spaced.kind, StatementKind::kInsert);
  EXPECT_EQ(spaced.table, "a`b");
  EXPECT_EQ(spaced.value, "x'y");
  EXPECT_EQ(Translate("insert into `t` values ('a' || 'b')").kind, StatementKind::kOther);
  // Other inserts are left as they stand.
  EXPECT_EQ(Translate("insert into `t` values ('a', 'b')").kind, StatementKind::kOther);
  EXPECT_EQ(Translate("insert into `t` select 1").kind, StatementKind::kOther);
}

TEST(PostgresDialect, UnclosedQuotesAndSecondStatementsAreRefused) {
  for (const std::string sql :
       {"SELECT `a FROM t", "SELECT 'a FROM t", "SELECT \"a FROM t", "SELECT 1; SELECT 2",
        "DROP TABLE `a`; DROP TABLE `b`", "CREATE TABLE `a` (`b` VARCHAR);x"}) {
    try {
      Translate(sql);
      ADD_FAILURE() << "accepted: " << sql;
    } catch (const db::Error& e) {
      EXPECT_EQ(e.number(), db::errc::kSyntax) << sql;
    }
  }
  EXPECT_NO_THROW(Translate("CREATE TABLE `a` (`b` VARCHAR);  \n"));
}

TEST(PostgresConnectionFile, ReadsTheUriAndTheSchemaAndRefusesAnythingElse) {
  struct Case {
    std::string text;
    std::string uri;                    // empty: refused
    std::optional<std::string> schema;  // when read
  };
  const std::vector<Case> cases = {
      {"postgresql://u@h:5432/db\n", "postgresql://u@h:5432/db", std::nullopt},
      {"postgres://h/db", "postgres://h/db", std::nullopt},
      {"postgresql://h/db?sslmode=require  \r\nschema=Sales Data\r\n",
       "postgresql://h/db?sslmode=require", "Sales Data"},
      {"postgresql:///db\n\n# the reporting copy\n  SCHEMA = x \n", "postgresql:///db", "x"},
      {"postgresql:///db\nschema=a\nschema=b\n", "", std::nullopt},
      {"postgresql:///db\nschema=\n", "", std::nullopt},
      {"postgresql:///db\nuser=bob\n", "", std::nullopt},
      {std::string("postgresql:///db\nschema=a\0b\n", 28), "", std::nullopt},
      {" postgresql:///db\n", "postgresql:///db", std::nullopt},
      {"mysql://h/db\n", "", std::nullopt},
      {"", "", std::nullopt},
      {std::string(70 * 1024, 'x'), "", std::nullopt},
  };
  for (const Case& c : cases) {
    if (c.uri.empty()) {
      try {
        db::ParsePostgresConnectionFile(c.text, "f.pgconn");
        ADD_FAILURE() << "accepted: " << c.text.substr(0, 80);
      } catch (const db::Error& e) {
        EXPECT_EQ(e.kind(), db::ErrorKind::kBadFormat) << c.text.substr(0, 80);
        EXPECT_NE(e.description().find("'f.pgconn'"), std::string::npos);
      }
      continue;
    }
    const db::PostgresConnectionFile file = db::ParsePostgresConnectionFile(c.text, "f.pgconn");
    EXPECT_EQ(file.uri, c.uri);
    EXPECT_EQ(file.schema, c.schema) << c.text;
  }
}

TEST(PostgresConnectionFile, IsToldApartByItsFirstBytesAndNeverEchoesItsUri) {
  testsupport::TempDir temp;
  struct Case {
    std::string text;
    db::FileFormat format;
  };
  const std::vector<Case> cases = {
      {"postgresql://h/db\n", db::FileFormat::PostgresConnection},
      {"postgres://h/db", db::FileFormat::PostgresConnection},
      {"Postgresql://h/db", db::FileFormat::Unknown},
      {"# comment\npostgresql://h/db", db::FileFormat::Unknown},
  };
  for (const Case& c : cases) {
    const std::string path = temp.file("c.pgconn");
    std::ofstream(path, std::ios::trunc) << c.text;
    EXPECT_EQ(db::SniffFileFormat(path), c.format) << c.text;
  }
  // A file that starts like one but is not one: the error names the file, not its secret.
  const std::string path = temp.file("bad.pgconn");
  std::ofstream(path) << "postgresql://bob:hunter2@h/db\nuser=x\n";
  try {
    db::ReadPostgresConnectionFile(path);
    ADD_FAILURE() << "accepted";
  } catch (const db::Error& e) {
    EXPECT_EQ(e.description().find("hunter2"), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("line 2"), std::string::npos) << e.description();
  }
}

}  // namespace
