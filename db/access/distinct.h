// SELECT DISTINCT as the Access engine answers it: rows that compare equal count once (texts
// that differ only in letter case are equal; the first row met is kept), and the rows come
// sorted ascending, field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/base/value.h"

namespace db::access {

// Access order of two values of one field: Null first; numbers, currency and decimals by
// amount; dates by time; yes/no with Yes first (Yes is stored as -1); text by a locale-aware
// comparison of the case-folded texts; binary data byte by byte. Values of different kinds
// (which one field never holds) are ordered by kind. Negative, zero or positive.
int CompareAccessValues(const Value& a, const Value& b);

// Collects the distinct rows of a query as they are read, so that only one row of each group
// of equal rows is held, then hands them out sorted.
class AccessDistinctRows {
 public:
  // Keeps a copy of `row` unless an equal row came before it.
  void add(const std::vector<Value>& row);
  // The rows kept, sorted; leaves this empty.
  std::vector<std::vector<Value>> take();

 private:
  // The fields of all kept rows in one array; kept row r starts at starts_[r] and ends where
  // the next one starts. Per field, as values_: the end in foldedChars_ of its case-folded UTF-8
  // text (empty for a field that is not text; it begins where the field before ends) and its
  // kind (see FieldKind in the source).
  std::vector<Value> values_;
  std::string foldedChars_;
  std::vector<std::size_t> foldedEnds_;
  std::vector<std::size_t> starts_;
  std::vector<char> kind_;
  // Rows of texts and Nulls only, found by the hash of their folded texts: an open-addressed
  // table of the low 32 bits of the hash (high half) and the kept row + 1 (low half), 0 for a
  // free slot; 8 bytes a slot keep the table small enough to stay in the caches. Equal there
  // means equal, so a later repeat is dropped at once; other rows are all kept and their repeats
  // dropped after the sort.
  std::vector<std::uint64_t> slots_;
  std::size_t used_ = 0;
  std::vector<std::string> rowFolded_;  // scratch for the row being added

  std::string_view folded(std::size_t field) const;
  bool sameTexts(std::size_t kept, const std::vector<Value>& row) const;
  void grow();
};

// The distinct rows of `rows`, sorted.
std::vector<std::vector<Value>> AccessDistinct(std::vector<std::vector<Value>> rows);

}  // namespace db::access
