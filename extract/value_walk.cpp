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

db::RowFilter WalkFilter(const Matcher& matcher, std::optional<Criterion> criterion) {
  db::RowFilter filter;
  filter.sameForEqualRows = !criterion || DependsOnlyOnBlanks(*criterion);
  filter.keeps = [&matcher, criterion](const std::vector<db::Value>& row) {
    if (!criterion || row.empty() || row[0].isNull()) return false;
    std::string scratch;
    return matcher.matches(*criterion, TextOf(row[0], scratch));
  };
  return filter;
}

}  // namespace extract
