// Readable values in test failure messages.
#pragma once

#include <ostream>

#include "db/base/value.h"

namespace db {

inline void PrintTo(const Value& v, std::ostream* os) {
  static const char* const kTypes[] = {"Null",     "Text",     "Integer", "Double", "Decimal",
                                       "Currency", "DateTime", "Boolean", "Binary"};
  *os << kTypes[static_cast<int>(v.type())] << "(";
  switch (v.type()) {
    case Value::Type::Null:
      break;
    case Value::Type::Text:
    case Value::Type::Decimal:
    case Value::Type::Binary:
      *os << '"' << v.text() << '"';
      break;
    case Value::Type::Integer:
    case Value::Type::Currency:
    case Value::Type::Boolean:
      *os << v.integer();
      break;
    case Value::Type::Double:
    case Value::Type::DateTime:
      *os << v.real();
      break;
  }
  *os << ")";
}

}  // namespace db
