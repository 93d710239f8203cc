#include <gtest/gtest.h>

#include "db/access/sql/parser.h"
#include "db/statements.h"

namespace {

TEST(Statements, HaveTheExactTexts) {
  EXPECT_EQ(db::TableFieldsStatement("Customers"), "SELECT * FROM `Customers`");
  EXPECT_EQ(db::PreviewStatement("City", "Customers"), "SELECT `City` FROM `Customers`");
  EXPECT_EQ(db::DistinctValuesStatement("City", "Customers"),
            "SELECT distinct `City` FROM `Customers`");
  EXPECT_EQ(db::DropTableStatement(" Results "), "DROP TABLE ` Results `");
  EXPECT_EQ(db::CreateTableStatement(" Results ", "City"),
            "CREATE TABLE ` Results ` (`City` VARCHAR);");
  EXPECT_EQ(db::CreateTableStatement("Results", "Notes", true),
            "CREATE TABLE `Results` (`Notes` LONGTEXT);");
  EXPECT_EQ(db::InsertStatement("Results", "Paris"), "insert into `Results` values ('Paris')");
}

TEST(Statements, PutNamesBetweenBackticksDoublingTheBackticksInside) {
  EXPECT_EQ(db::PreviewStatement("Customer Name", "O'Hara"),
            "SELECT `Customer Name` FROM `O'Hara`");
  EXPECT_EQ(db::TableFieldsStatement("a`b"), "SELECT * FROM `a``b`");
  EXPECT_EQ(db::DropTableStatement("x` AS SELECT * FROM people --"),
            "DROP TABLE `x`` AS SELECT * FROM people --`");
  EXPECT_EQ(db::CreateTableStatement("`", "``"), "CREATE TABLE ```` (`````` VARCHAR);");
  EXPECT_EQ(db::TableFieldsStatement(""), "SELECT * FROM ``");
}

// Every statement the program builds reads back, through the Access statement parser, with the
// very names it was built from, however odd.
TEST(Statements, ReadBackByTheAccessParserWithTheirNames) {
  namespace sql = db::access::sql;
  const std::string names[] = {"a`b",
                               "x` AS SELECT * FROM people --",
                               "`",
                               "``lead",
                               "trail`",
                               "O'Hara",
                               "[x]",
                               "semi;colon",
                               " spaced ",
                               "a,b (c)",
                               "\xC3\x9C_\xE8\xA1\xA8"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string other = "f" + name;
    const std::string value = "it's `" + name + "`";
    EXPECT_EQ(sql::ParseAccessStatement(db::TableFieldsStatement(name)),
              sql::AccessStatement(sql::SelectStatement{false, std::nullopt, name}));
    EXPECT_EQ(sql::ParseAccessStatement(db::DistinctValuesStatement(other, name)),
              sql::AccessStatement(sql::SelectStatement{true, other, name}));
    EXPECT_EQ(sql::ParseAccessStatement(db::PreviewStatement(name, other)),
              sql::AccessStatement(sql::SelectStatement{false, name, other}));
    EXPECT_EQ(sql::ParseAccessStatement(db::DropTableStatement(name)),
              sql::AccessStatement(sql::DropTableStatement{name}));
    EXPECT_EQ(
        sql::ParseAccessStatement(db::CreateTableStatement(name, other)),
        sql::AccessStatement(sql::CreateTableStatement{name, {{other, "VARCHAR", std::nullopt}}}));
    EXPECT_EQ(sql::ParseAccessStatement(db::InsertStatement(name, value)),
              sql::AccessStatement(sql::InsertStatement{name, {value}}));
  }
}

TEST(Statements, DoubleEveryApostropheOfAValue) {
  EXPECT_EQ(db::DoubleApostrophes("It's"), "It''s");
  EXPECT_EQ(db::DoubleApostrophes("''"), "''''");
  EXPECT_EQ(db::DoubleApostrophes("'a'b'"), "''a''b''");
  EXPECT_EQ(db::DoubleApostrophes("plain"), "plain");
  EXPECT_EQ(db::DoubleApostrophes(""), "");
  EXPECT_EQ(db::InsertStatement("R", "It's"), "insert into `R` values ('It''s')");
  EXPECT_EQ(db::InsertStatement("R", ""), "insert into `R` values ('')");
}

TEST(Statements, SqlValueTextGivesTheFallbackForNullOnly) {
  EXPECT_EQ(db::SqlValueText(db::Value::Null(), ""), "");
  EXPECT_EQ(db::SqlValueText(db::Value::Null(), "it's"), "it's");  // never doubled
  EXPECT_EQ(db::SqlValueText(db::Value::Text("O'Brien"), "x"), "O''Brien");
  EXPECT_EQ(db::SqlValueText(db::Value::Text(""), "x"), "");
  EXPECT_EQ(db::SqlValueText(db::Value::Integer(-42), ""), "-42");
}

}  // namespace
