#include "db/access/sql/parser.h"

#include <gtest/gtest.h>

#include "db/base/error.h"

namespace db {

using namespace db::access::sql;
namespace {

// The statement texts the program sends, in the letter case it sends them, and the variants a
// hand-written statement may use.
TEST(AccessSqlTest, AcceptsTheProgramsStatements) {
  EXPECT_EQ(ParseAccessStatement("SELECT * FROM `Order Details`"),
            AccessStatement(SelectStatement{false, std::nullopt, "Order Details"}));
  EXPECT_EQ(ParseAccessStatement("SELECT `Customer Name` FROM `O'Hara`"),
            AccessStatement(SelectStatement{false, "Customer Name", "O'Hara"}));
  EXPECT_EQ(ParseAccessStatement("SELECT distinct `City` FROM `Customers`"),
            AccessStatement(SelectStatement{true, "City", "Customers"}));
  EXPECT_EQ(ParseAccessStatement("DROP TABLE `Results`"),
            AccessStatement(DropTableStatement{"Results"}));
  EXPECT_EQ(ParseAccessStatement("CREATE TABLE `Results` (`City` VARCHAR);"),
            AccessStatement(CreateTableStatement{"Results", {{"City", "VARCHAR", std::nullopt}}}));
  EXPECT_EQ(ParseAccessStatement("insert into `Results` values ('It''s')"),
            AccessStatement(InsertStatement{"Results", {"It's"}}));
  EXPECT_EQ(ParseAccessStatement("insert into `Results` values ('')"),
            AccessStatement(InsertStatement{"Results", {""}}));
  EXPECT_EQ(ParseAccessStatement("insert into `Results` values ('''''')"),
            AccessStatement(InsertStatement{"Results", {"''"}}));
}

TEST(AccessSqlTest, AcceptsBracketsPlainNamesAnyCaseAndASemicolon) {
  EXPECT_EQ(ParseAccessStatement("select DISTINCT [a b] from Customers;"),
            AccessStatement(SelectStatement{true, "a b", "Customers"}));
  EXPECT_EQ(ParseAccessStatement("  Select\t*\nFrom  tbl_1  "),
            AccessStatement(SelectStatement{false, std::nullopt, "tbl_1"}));
  EXPECT_EQ(ParseAccessStatement("create table [T] ([a] text(50), b varchar)"),
            AccessStatement(
                CreateTableStatement{"T", {{"a", "TEXT", 50}, {"b", "VARCHAR", std::nullopt}}}));
  EXPECT_EQ(ParseAccessStatement("CREATE TABLE T (n LongText, m memo)"),
            AccessStatement(CreateTableStatement{
                "T", {{"n", "LONGTEXT", std::nullopt}, {"m", "MEMO", std::nullopt}}}));
  EXPECT_EQ(ParseAccessStatement("INSERT INTO T VALUES ('a', 'b');"),
            AccessStatement(InsertStatement{"T", {"a", "b"}}));
  EXPECT_EQ(ParseAccessStatement("drop table Ü_Straße"),
            AccessStatement(DropTableStatement{"Ü_Straße"}));
  EXPECT_EQ(ParseAccessStatement("SELECT `F`FROM `T`"),
            AccessStatement(SelectStatement{false, "F", "T"}));
}

// A backtick inside a name is written twice between backticks; between brackets it is itself.
TEST(AccessSqlTest, NamesMayHoldBackticks) {
  EXPECT_EQ(ParseAccessStatement("SELECT `x``y` FROM `T`"),
            AccessStatement(SelectStatement{false, "x`y", "T"}));
  EXPECT_EQ(ParseAccessStatement("DROP TABLE ````"), AccessStatement(DropTableStatement{"`"}));
  EXPECT_EQ(ParseAccessStatement("SELECT * FROM [a`b]"),
            AccessStatement(SelectStatement{false, std::nullopt, "a`b"}));
}

struct Rejected {
  const char* sql;
  const char* messagePart;
};

TEST(AccessSqlTest, RejectsOtherTextNamingTheProblem) {
  const Rejected cases[] = {
      {"", "expected 'CREATE', 'DROP', 'INSERT' or 'SELECT'"},
      {"UPDATE T SET a = 1", "expected 'CREATE', 'DROP', 'INSERT' or 'SELECT'"},
      {"SELECT FROM `T`", "expected a field name or * after SELECT"},
      {"SELECT * `T`", "expected FROM"},
      {"SELECT * FROM", "expected a table name after FROM"},
      {"SELECT * FROM `T` WHERE a = 1", "unexpected text after the table name"},
      {"SELECT a, b FROM T", "expected FROM"},
      {"SELECT * FROM `T`; SELECT * FROM `U`", "Characters found after end of SQL statement"},
      {"SELECT * FROM `a`b`", "runs on after its closing backtick"},
      {"SELECT * FROM `a``b", "not closed"},
      {"SELECT * FROM `a```b`", "runs on after its closing backtick"},
      {"SELECT * FROM ``", "cannot be empty"},
      {"SELECT * FROM `T", "not closed"},
      {"SELECT * FROM select", "expected a table name after FROM"},
      {"DROP `T`", "expected TABLE after DROP"},
      {"CREATE TABLE `T` (`F`)", "expected a type"},
      {"CREATE TABLE `T` (`F` INTEGER)", "the type INTEGER is not supported"},
      {"CREATE TABLE `T` `F` VARCHAR", "expected ( after the table name"},
      {"CREATE TABLE `T` (`F` VARCHAR(x))", "expected a length"},
      {"insert into `T` values (1)", "expected a text value"},
      {"insert into `T` values ('a'", "expected , or ) after a value"},
      {"insert into `T` values ('a)", "not closed"},
      {"insert `T` values ('a')", "expected INTO after INSERT"},
      {"SELECT * FROM T # x", "unexpected character '#'"},
  };
  for (const Rejected& c : cases) {
    try {
      ParseAccessStatement(c.sql);
      ADD_FAILURE() << "accepted: " << c.sql;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::kSyntax) << c.sql;
      EXPECT_NE(e.description().find(c.messagePart), std::string::npos)
          << c.sql << " -> " << e.description();
    }
  }
}

}  // namespace
}  // namespace db
