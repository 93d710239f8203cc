// The text of each kind of value, under two fixed locales.
#include <gtest/gtest.h>

#include <limits>

#include "db/base/value_text.h"

namespace {

using db::Value;

const QLocale kUs(QLocale::English, QLocale::UnitedStates);
const QLocale kDe(QLocale::German, QLocale::Germany);

std::string Us(const Value& v) { return db::ValueToText(v, kUs); }
std::string De(const Value& v) { return db::ValueToText(v, kDe); }

TEST(ValueText, PlainKindsAreTheSameEverywhere) {
  for (const QLocale& l : {kUs, kDe}) {
    EXPECT_EQ(db::ValueToText(Value::Null(), l), "");
    EXPECT_EQ(db::ValueToText(Value::Text("It's"), l), "It's");
    EXPECT_EQ(db::ValueToText(Value::Integer(-1234567), l), "-1234567");  // no grouping
    EXPECT_EQ(db::ValueToText(Value::Integer(std::numeric_limits<std::int64_t>::min()), l),
              "-9223372036854775808");
    EXPECT_EQ(db::ValueToText(Value::Boolean(true), l), "True");
    EXPECT_EQ(db::ValueToText(Value::Boolean(false), l), "False");
    EXPECT_EQ(db::ValueToText(Value::Binary(std::string("a\0b", 3)), l), std::string("a\0b", 3));
  }
}

TEST(ValueText, DoublesAreShortestRoundTripWithTheLocalesSeparator) {
  struct Case {
    double v;
    const char* us;
    const char* de;
  } cases[] = {
      {3.5, "3.5", "3,5"},
      {-2.25, "-2.25", "-2,25"},
      {1234567.125, "1234567.125", "1234567,125"},
      {0.1, "0.1", "0,1"},
      {0.1 + 0.2, "0.30000000000000004", "0,30000000000000004"},
      {100, "100", "100"},
      {0, "0", "0"},
      {0.00001, "0.00001", "0,00001"},
      {123456789012345.0, "123456789012345", "123456789012345"},
      {1e15, "1E+15", "1E+15"},
      {-1.5e-7, "-1.5E-07", "-1,5E-07"},
      {2.5e300, "2.5E+300", "2,5E+300"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Us(Value::Double(c.v)), c.us);
    EXPECT_EQ(De(Value::Double(c.v)), c.de);
    // The digits read back as the same number.
    EXPECT_EQ(std::stod(Us(Value::Double(c.v))), c.v);
  }
  EXPECT_EQ(Us(Value::Double(std::numeric_limits<double>::quiet_NaN())), "NaN");
  EXPECT_EQ(Us(Value::Double(-std::numeric_limits<double>::infinity())), "-Infinity");
}

TEST(ValueText, DecimalsAndCurrencyUseTheSeparatorAndDropTrailingZeros) {
  EXPECT_EQ(Us(Value::Decimal("-12.5")), "-12.5");
  EXPECT_EQ(De(Value::Decimal("-12.5")), "-12,5");
  EXPECT_EQ(De(Value::Decimal("1000")), "1000");

  EXPECT_EQ(Us(Value::Currency(12345)), "1.2345");
  EXPECT_EQ(De(Value::Currency(12345)), "1,2345");
  EXPECT_EQ(Us(Value::Currency(10000)), "1");
  EXPECT_EQ(Us(Value::Currency(15000)), "1.5");
  EXPECT_EQ(Us(Value::Currency(-5)), "-0.0005");
  EXPECT_EQ(Us(Value::Currency(0)), "0");
  EXPECT_EQ(Us(Value::Currency(12345678900000)), "1234567890");
  EXPECT_EQ(Us(Value::Currency(std::numeric_limits<std::int64_t>::min())), "-922337203685477.5808");
}

TEST(ValueText, DatesShowTheDateAndTheTimeWhenThereIsOne) {
  const double day = 45000;  // 2023-03-15
  EXPECT_EQ(Us(Value::DateTime(day)), "3/15/2023");
  EXPECT_EQ(De(Value::DateTime(day)), "15.03.2023");
  EXPECT_EQ(Us(Value::DateTime(day + 0.5)), "3/15/2023 12:00:00 PM");
  EXPECT_EQ(De(Value::DateTime(day + 0.5)), "15.03.2023 12:00:00");
  // 2000-01-01 14:30:12
  EXPECT_EQ(Us(Value::DateTime(36526 + (14 * 3600 + 30 * 60 + 12) / 86400.0)),
            "1/1/2000 2:30:12 PM");
  EXPECT_EQ(De(Value::DateTime(36526 + (14 * 3600 + 30 * 60 + 12) / 86400.0)),
            "01.01.2000 14:30:12");
}

TEST(ValueText, DatesOnTheZeroDayAreATimeAlone) {
  EXPECT_EQ(Us(Value::DateTime(0.75)), "6:00:00 PM");
  EXPECT_EQ(De(Value::DateTime(0.75)), "18:00:00");
  EXPECT_EQ(Us(Value::DateTime(0)), "12:00:00 AM");
  EXPECT_EQ(De(Value::DateTime(0)), "00:00:00");
}

TEST(ValueText, DatesBeforeTheZeroDayAndAtTheEdges) {
  // Below zero the fraction still counts forward from midnight: -1.25 is 1899-12-29 06:00.
  EXPECT_EQ(De(Value::DateTime(-1.25)), "29.12.1899 06:00:00");
  EXPECT_EQ(De(Value::DateTime(-1)), "29.12.1899");
  // A time a hair before midnight rounds to the next day.
  EXPECT_EQ(De(Value::DateTime(45000.9999999999)), "16.03.2023");
  EXPECT_EQ(De(Value::DateTime(2958465)), "31.12.9999");
  // Outside the calendar the number itself is shown.
  EXPECT_EQ(De(Value::DateTime(1e9)), "1000000000");
}

}  // namespace
