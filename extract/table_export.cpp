#include "extract/table_export.h"

#include <utility>

#include "db/base/names.h"
#include "db/statements.h"

namespace extract {

bool ReplacesSource(const std::string& name, const std::string& table) {
  return db::SameName(name, table);
}

TableExport::TableExport(db::Connection& connection, std::string name)
    : connection_(connection), name_(std::move(name)) {}

void TableExport::begin() { connection_.beginTrans(); }

void TableExport::dropOld() { connection_.execute(db::DropTableStatement(name_)); }

void TableExport::openValues(const std::string& field, const std::string& table) {
  values_ = connection_.openRecordset(db::DistinctValuesStatement(field, table));
}

void TableExport::create(const std::string& field, bool longText) {
  connection_.execute(db::CreateTableStatement(name_, field, longText));
}

void TableExport::insert(std::string_view value) {
  connection_.execute(db::InsertStatement(name_, std::string(value)));
}

void TableExport::closeValues() {
  // Released even when the close fails.
  const std::unique_ptr<db::Recordset> values = std::move(values_);
  if (values && values->isOpen()) values->close();
}

void TableExport::commit() { connection_.commitTrans(); }

void TableExport::rollBack() { connection_.rollbackTrans(); }

}  // namespace extract
