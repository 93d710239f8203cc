#include "db/statements.h"

namespace db {
namespace {

std::string Name(const std::string& name) { return "`" + name + "`"; }

}  // namespace

std::string TableFieldsStatement(const std::string& table) { return "SELECT * FROM " + Name(table); }

std::string PreviewStatement(const std::string& field, const std::string& table) {
  return "SELECT " + Name(field) + " FROM " + Name(table);
}

std::string DistinctValuesStatement(const std::string& field, const std::string& table) {
  return "SELECT distinct " + Name(field) + " FROM " + Name(table);
}

std::string DropTableStatement(const std::string& table) { return "DROP TABLE " + Name(table); }

std::string CreateTableStatement(const std::string& table, const std::string& field) {
  return "CREATE TABLE " + Name(table) + " (" + Name(field) + " VARCHAR);";
}

std::string InsertStatement(const std::string& table, const std::string& valueText) {
  return "insert into " + Name(table) + " values ('" + DoubleApostrophes(valueText) + "')";
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
