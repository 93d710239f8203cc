// SELECT DISTINCT as the Access engine answers it: rows that compare equal count once (texts
// that differ only in letter case are equal; the first row met is kept), and the rows come
// sorted ascending, field by field.
#pragma once

#include <vector>

#include "db/value.h"

namespace db {

// Access order of two values of one field: Null first; numbers, currency and decimals by
// amount; dates by time; yes/no with Yes first (Yes is stored as -1); text by a locale-aware
// comparison of the case-folded texts; binary data byte by byte. Values of different kinds
// (which one field never holds) are ordered by kind. Negative, zero or positive.
int CompareAccessValues(const Value& a, const Value& b);

// The distinct rows of `rows`, sorted.
std::vector<std::vector<Value>> AccessDistinct(std::vector<std::vector<Value>> rows);

}  // namespace db
