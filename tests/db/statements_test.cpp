#include <gtest/gtest.h>

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
  EXPECT_EQ(db::InsertStatement("Results", "Paris"), "insert into `Results` values ('Paris')");
}

TEST(Statements, PutNamesBetweenBackticksUnchanged) {
  EXPECT_EQ(db::PreviewStatement("Customer Name", "O'Hara"), "SELECT `Customer Name` FROM `O'Hara`");
  EXPECT_EQ(db::TableFieldsStatement("a`b"), "SELECT * FROM `a`b`");
  EXPECT_EQ(db::TableFieldsStatement(""), "SELECT * FROM ``");
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
