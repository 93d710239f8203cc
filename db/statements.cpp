#include "db/statements.h"

namespace db {

std::string QuotedName(const std::string& name) {
  std::string out = "`";
  out.reserve(name.size() + 8);
  for (char c : name) {
    out += c;
    if (c == '`') out += '`';
  }
  out += '`';
  return out;
}

std::string TableFieldsStatement(const std::string& table) {
  return "SELECT * FROM " + QuotedName(table);
}

std::string PreviewStatement(const std::string& field, const std::string& table) {
  return "SELECT " + QuotedName(field) + " FROM " + QuotedName(table);
}

std::string DistinctValuesStatement(const std::string& field, const std::string& table) {
  return "SELECT distinct " + QuotedName(field) + " FROM " + QuotedName(table);
}

std::string DropTableStatement(const std::string& table) {
  return "DROP TABLE " + QuotedName(table);
}

std::string CreateTableStatement(const std::string& table, const std::string& field,
                                 bool longText) {
  return "CREATE TABLE " + QuotedName(table) + " (" + QuotedName(field) +
         (longText ? " LONGTEXT);" : " VARCHAR);");
}

std::string InsertStatement(const std::string& table, const std::string& valueText) {
  return "insert into " + QuotedName(table) + " values ('" + DoubleApostrophes(valueText) + "')";
}

std::string DoubleApostrophes(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string SqlValueText(const Value& value, const std::string& fallback) {
  return value.isNull() ? fallback : DoubleApostrophes(value.toText());
}

}  // namespace db
