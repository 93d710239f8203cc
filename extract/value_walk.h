// The one walk over a field's distinct values, shared by the windows' run and export and by the
// command line: for each row of the record set, read the value (a Null value skips the row),
// test it against the criterion, hand it on when it meets it, then move to the next row.
//
// A driver decides how each part of a row runs. The command line runs each part as it is, and a
// failure ends the walk. The windows' procedures run each part as a numbered step that reports
// its failure and goes on, read the criterion afresh for every value, show progress and pause
// now and then. A driver is any type with these members (`part` is a callable):
//
//   bool more(long long row);               whether row `row` (counted from 0) is walked
//   void beforeRow(long long row);          before the row is read
//   bool read(part);                        runs `part`, which gives false for a Null value;
//                                           whether the row goes on to be tested
//   std::optional<Criterion> criterion();   the criterion for this row (nothing keeps nothing)
//   bool test(Criterion c, part);           runs the test `part` and gives its answer
//   void keep(Criterion c, part);           runs `part`, which hands the value on
//   void afterRow(long long row);           after the value was handed on
//   void next(part);                        runs `part`, which moves to the next row
//
// The text handed on is valid until the walk moves to the next row.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "extract/criteria.h"

namespace extract {

// The record set, or a db::Error "closed" failure when it was never opened or is closed.
db::Recordset& OpenRecordset(const std::unique_ptr<db::Recordset>& records);

// The text of a non-Null value, as stored: text values without a copy (`scratch` holds the
// others).
std::string_view TextOf(const db::Value& value, std::string& scratch);

// The walk's test of a row (field 0: a Null value fails, as the walk passes over it) as a filter
// an engine may apply before DISTINCT holds the rows, when one criterion holds for every value.
// Nothing matches without a criterion.
db::RowFilter WalkFilter(const Matcher& matcher, std::optional<Criterion> criterion);

// Walks `records` (field 0 of each row) as `driver` says, testing each value with `matcher`
// and calling `keep(text)` for the values that meet the criterion.
template <class Driver, class Keep>
void WalkValues(Driver& driver, const std::unique_ptr<db::Recordset>& records,
                const Matcher& matcher, Keep&& keep) {
  std::string scratch;
  for (long long row = 0; driver.more(row); ++row) {
    driver.beforeRow(row);
    std::string_view text;
    const bool present = driver.read([&] {
      const db::Value& value = OpenRecordset(records).value(0);
      if (value.isNull()) return false;
      text = TextOf(value, scratch);
      return true;
    });
    if (present) {
      if (const std::optional<Criterion> criterion = driver.criterion()) {
        const Criterion c = *criterion;
        if (driver.test(c, [&] { return matcher.matches(c, text); }))
          driver.keep(c, [&] { keep(text); });
      }
    }
    driver.afterRow(row);
    driver.next([&] { OpenRecordset(records).moveNext(); });
  }
}

}  // namespace extract
