#include "extract/value_walk.h"

#include "db/base/error.h"

namespace extract {

db::Recordset& OpenRecordset(const std::unique_ptr<db::Recordset>& records) {
  if (!records || !records->isOpen())
    throw db::Error(db::errc::kClosed, "Operation is not allowed when the object is closed.");
  return *records;
}

std::string_view TextOf(const db::Value& value, std::string& scratch) {
  if (value.type() == db::Value::Type::Text) return value.text();
  scratch = value.toText();
  return scratch;
}

}  // namespace extract
