#include "db/access/distinct.h"

#include <gtest/gtest.h>

#include <QString>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "tests/access/value_printer.h"

namespace db {

using namespace db::access;
namespace {

std::vector<std::vector<Value>> Column(std::vector<Value> values) {
  std::vector<std::vector<Value>> rows;
  for (Value& v : values) rows.push_back({std::move(v)});
  return rows;
}

std::vector<Value> Flatten(const std::vector<std::vector<Value>>& rows) {
  std::vector<Value> values;
  for (const auto& row : rows) values.push_back(row.at(0));
  return values;
}

TEST(AccessDistinctTest, TextsDifferingOnlyInCaseCountOnceKeepingTheFirstMet) {
  auto result = AccessDistinct(Column(
      {Value::Text("berlin"), Value::Text("Paris"), Value::Text("BERLIN"), Value::Text("paris"),
       Value::Text("Berlin"), Value::Text("ÄRGER"), Value::Text("ärger")}));
  EXPECT_EQ(Flatten(result), (std::vector<Value>{Value::Text("ÄRGER"), Value::Text("berlin"),
                                                 Value::Text("Paris")}));
}

TEST(AccessDistinctTest, NullComesFirstAndTextSortsWithoutRegardToCase) {
  auto result = AccessDistinct(
      Column({Value::Text("b"), Value::Null(), Value::Text("A"), Value::Text("c"), Value::Null(),
              Value::Text("B"), Value::Text(""), Value::Text("a b")}));
  EXPECT_EQ(Flatten(result),
            (std::vector<Value>{Value::Null(), Value::Text(""), Value::Text("A"),
                                Value::Text("a b"), Value::Text("b"), Value::Text("c")}));
}

TEST(AccessDistinctTest, NumbersDatesAndDecimalsSortByAmount) {
  EXPECT_EQ(Flatten(AccessDistinct(Column(
                {Value::Integer(10), Value::Integer(9), Value::Integer(-3), Value::Integer(10)}))),
            (std::vector<Value>{Value::Integer(-3), Value::Integer(9), Value::Integer(10)}));
  EXPECT_EQ(Flatten(AccessDistinct(
                Column({Value::Double(2.5), Value::Double(-0.5), Value::Double(10.0)}))),
            (std::vector<Value>{Value::Double(-0.5), Value::Double(2.5), Value::Double(10.0)}));
  EXPECT_EQ(Flatten(AccessDistinct(Column(
                {Value::DateTime(29932.5), Value::DateTime(27293.0), Value::DateTime(29932.25)}))),
            (std::vector<Value>{Value::DateTime(27293.0), Value::DateTime(29932.25),
                                Value::DateTime(29932.5)}));
  EXPECT_EQ(Flatten(AccessDistinct(
                Column({Value::Decimal("10.5"), Value::Decimal("-2"), Value::Decimal("9.75"),
                        Value::Decimal("-10"), Value::Decimal("10.25"), Value::Decimal("0")}))),
            (std::vector<Value>{Value::Decimal("-10"), Value::Decimal("-2"), Value::Decimal("0"),
                                Value::Decimal("9.75"), Value::Decimal("10.25"),
                                Value::Decimal("10.5")}));
  EXPECT_EQ(Flatten(AccessDistinct(
                Column({Value::Currency(35000), Value::Currency(-1), Value::Currency(35000)}))),
            (std::vector<Value>{Value::Currency(-1), Value::Currency(35000)}));
}

TEST(AccessDistinctTest, YesSortsBeforeNoAndBinarySortsByBytes) {
  EXPECT_EQ(Flatten(AccessDistinct(
                Column({Value::Boolean(false), Value::Boolean(true), Value::Boolean(false)}))),
            (std::vector<Value>{Value::Boolean(true), Value::Boolean(false)}));
  EXPECT_EQ(Flatten(AccessDistinct(Column({Value::Binary("\xff"), Value::Binary("a"),
                                           Value::Binary("ab"), Value::Binary("a")}))),
            (std::vector<Value>{Value::Binary("a"), Value::Binary("ab"), Value::Binary("\xff")}));
}

TEST(AccessDistinctTest, WholeRowsAreComparedFieldByField) {
  std::vector<std::vector<Value>> rows = {
      {Value::Text("x"), Value::Integer(2)},
      {Value::Text("X"), Value::Integer(1)},
      {Value::Text("x"), Value::Integer(1)},
  };
  auto result = AccessDistinct(rows);
  ASSERT_EQ(result.size(), 2u);
  EXPECT_EQ(result[0], (std::vector<Value>{Value::Text("X"), Value::Integer(1)}));
  EXPECT_EQ(result[1], (std::vector<Value>{Value::Text("x"), Value::Integer(2)}));
}

// Many values, with case variants, accents, non-ASCII letters and Nulls, against the plain
// definition: keep a value unless an earlier kept one compares equal, then sort by
// CompareAccessValues. Each text is built from a stem, a number and maybe a second stem, and
// its ASCII letters are then put in a random case, so the same text recurs in several cases
// (every letter from A to Z among them, and the characters just outside A-Z and a-z, which
// have no case). Enough values to make the hashing and the sorting do real work.
TEST(AccessDistinctTest, ManyTextsMatchThePlainDefinition) {
  const std::vector<std::string> stems = {
      "a", "é",  "É",  "e", "straße", "strasse", "Ωmega", "ωMEGA", "z",
      "",  " x", "x ", "Ǆ", "ǆ",      "ǅ",       "10",    "9",     "abcdefghijklmnopqrstuvwxyz",
      "@", "`",  "[",  "{"};
  std::minstd_rand random(20240607);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  std::vector<std::vector<Value>> rows;
  for (int i = 0; i < 3000; ++i) {
    if (pick(97) == 0) {
      rows.push_back({Value::Null()});
      continue;
    }
    std::string text = stems[pick(stems.size())] + std::to_string(pick(8));
    if (pick(3) == 0) text += stems[pick(4)];
    for (char& c : text)
      if (c >= 'a' && c <= 'z' && pick(2) == 0) c = static_cast<char>(c - 'a' + 'A');
    rows.push_back({Value::Text(text)});
  }

  std::vector<Value> expected;
  for (const auto& row : rows) {
    bool seen = std::any_of(expected.begin(), expected.end(),
                            [&](const Value& v) { return CompareAccessValues(v, row[0]) == 0; });
    if (!seen) expected.push_back(row[0]);
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const Value& a, const Value& b) { return CompareAccessValues(a, b) < 0; });
  EXPECT_EQ(Flatten(AccessDistinct(rows)), expected);
}

// Enough rows of a text and a number that the work is split in halves. Rows with a number are
// not dropped by the hash as they are read, so equal rows meet in the sort: the first one met
// must be kept, and the rows must come strictly ascending.
TEST(AccessDistinctTest, ManyRowsKeepTheFirstMetAndComeInOrder) {
  const std::vector<std::string> stems = {"Köln",  "KÖLN",  "straße", "Zürich", "zürich",
                                          "Ωmega", "ωMEGA", "oslo",   "OSLO",   "Oslo",
                                          "a b",   "A B",   ""};
  std::minstd_rand random(77);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  std::vector<std::vector<Value>> rows;
  for (int i = 0; i < 16000; ++i) {
    Value text = pick(50) == 0 ? Value::Null()
                               : Value::Text(stems[pick(stems.size())] + std::to_string(pick(60)));
    rows.push_back({std::move(text), Value::Integer(static_cast<long long>(pick(5)))});
  }

  // The first row met of each group of equal rows, by the case-folded text and the number.
  std::map<std::pair<std::string, long long>, std::vector<Value>> firstMet;
  for (const auto& row : rows) {
    std::string folded = row[0].isNull()
                             ? std::string("\0null", 5)
                             : QString::fromStdString(row[0].text()).toCaseFolded().toStdString();
    firstMet.emplace(std::make_pair(folded, row[1].integer()), row);
  }
  std::vector<std::vector<Value>> expectedKept;
  for (auto& [key, row] : firstMet) expectedKept.push_back(row);

  auto result = AccessDistinct(rows);
  ASSERT_EQ(result.size(), expectedKept.size());
  for (std::size_t i = 1; i < result.size(); ++i) {
    int c = CompareAccessValues(result[i - 1][0], result[i][0]);
    if (c == 0) c = CompareAccessValues(result[i - 1][1], result[i][1]);
    ASSERT_LT(c, 0) << "at " << i;
  }
  auto byBytes = [](const std::vector<Value>& a, const std::vector<Value>& b) {
    auto textOf = [](const Value& v) { return v.isNull() ? std::string() : v.text(); };
    return std::make_tuple(a[0].isNull(), textOf(a[0]), a[1].integer()) <
           std::make_tuple(b[0].isNull(), textOf(b[0]), b[1].integer());
  };
  std::sort(result.begin(), result.end(), byBytes);
  std::sort(expectedKept.begin(), expectedKept.end(), byBytes);
  EXPECT_EQ(result, expectedKept);
}

// Texts of plain ASCII, every printable character and the blanks among them, which the sort
// orders by the ranks of their bytes instead of the collator's keys; and the same texts with a
// control character here and there, which the collator's keys order. Both against the plain
// definition, as above, so that the two ways of ordering are held to the collator's answer.
TEST(AccessDistinctTest, AsciiTextsSortAsTheCollatorSorts) {
  std::minstd_rand random(5150);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  std::string alphabet = "\t\n\v\f\r ";
  for (char c = 0x21; c < 0x7f; ++c) alphabet += c;
  for (bool controls : {false, true}) {
    std::vector<std::vector<Value>> rows;
    for (int i = 0; i < 4000; ++i) {
      std::string text;
      // Short texts from a few characters meet often; longer ones share long beginnings.
      const std::size_t length = pick(6);
      const std::string& from = pick(2) == 0 ? alphabet : std::string("aAbB -_9");
      for (std::size_t k = 0; k < length; ++k) text += from[pick(from.size())];
      if (controls && pick(20) == 0) text.insert(pick(text.size() + 1), 1, "\x01\x1f\x7f"[pick(3)]);
      rows.push_back({Value::Text(text)});
    }
    // ASCII texts are equal when their lower cases are.
    std::vector<Value> expected;
    std::set<std::string> seen;
    for (const auto& row : rows) {
      std::string lower = row[0].text();
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (seen.insert(lower).second) expected.push_back(row[0]);
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const Value& a, const Value& b) { return CompareAccessValues(a, b) < 0; });
    EXPECT_EQ(Flatten(AccessDistinct(rows)), expected)
        << (controls ? "with" : "without") << " control characters";
  }
}

// A filter leaves out rows early without changing what the caller gets once it has tested the
// rows itself: the kept row of each group is the first met, whether the filter gives equal
// rows one answer (a test of spaces) or not (a test of capital letters, which tells "Oslo"
// from "oslo"), and rows with numbers, which are not hashed, are all handed out.
TEST(AccessDistinctTest, FilteredRowsAreThoseTheCallerWouldKeep) {
  const std::vector<std::string> stems = {"Oslo", "oslo", "a b",  "A B", "ab",
                                          "Köln", "KÖLN", "x\ty", "",    "Z z"};
  std::minstd_rand random(99);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  for (bool withNumbers : {false, true}) {
    std::vector<std::vector<Value>> rows;
    for (int i = 0; i < 3000; ++i) {
      std::vector<Value> row{
          pick(40) == 0 ? Value::Null()
                        : Value::Text(stems[pick(stems.size())] + std::to_string(pick(30)))};
      if (withNumbers) row.push_back(Value::Integer(static_cast<long long>(pick(3))));
      rows.push_back(std::move(row));
    }
    auto hasSpace = [](const std::vector<Value>& row) {
      return !row[0].isNull() && row[0].text().find(' ') != std::string::npos;
    };
    auto hasCapital = [](const std::vector<Value>& row) {
      return !row[0].isNull() && std::any_of(row[0].text().begin(), row[0].text().end(),
                                             [](char c) { return c >= 'A' && c <= 'Z'; });
    };
    const auto all = AccessDistinct(rows);
    for (const RowFilter& filter : {RowFilter{hasSpace, true}, RowFilter{hasCapital, false}}) {
      std::vector<std::vector<Value>> expected;
      std::copy_if(all.begin(), all.end(), std::back_inserter(expected), filter.keeps);
      AccessDistinctRows distinct(filter);
      for (const auto& row : rows) distinct.add(row);
      std::vector<std::vector<Value>> got;
      std::vector<Value> row;
      std::size_t handedOut = 0;
      while (distinct.next(row)) {
        ++handedOut;
        if (filter.keeps(row)) got.push_back(row);
      }
      EXPECT_EQ(distinct.size(), handedOut) << "the count the record set gives";
      EXPECT_EQ(got, expected) << (filter.sameForEqualRows ? "spaces" : "capitals")
                               << (withNumbers ? ", with numbers" : "");
    }
  }
}

}  // namespace
}  // namespace db
