// The Access engine's statement parser on any text: it either gives a statement or throws
// db::Error with the syntax error number. A statement of a shape the program sends, written
// again by the program's own statement texts, must parse back to the same statement.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "db/access/sql/parser.h"
#include "db/base/error.h"
#include "db/statements.h"
#include "fuzz/fuzz_support.h"

namespace {

// The program's text for `statement`, when it is one the program writes. (The statement structs
// share their names with the functions of db/statements.h, hence "struct" where they are named.)
std::optional<std::string> ProgramText(const db::access::sql::AccessStatement& statement) {
  if (const auto* s = std::get_if<db::access::sql::SelectStatement>(&statement)) {
    if (!s->field)
      return s->distinct ? std::nullopt : std::optional(db::TableFieldsStatement(s->table));
    return s->distinct ? db::DistinctValuesStatement(*s->field, s->table)
                       : db::PreviewStatement(*s->field, s->table);
  }
  if (const auto* d = std::get_if<db::access::sql::DropTableStatement>(&statement))
    return db::DropTableStatement(d->table);
  if (const auto* c = std::get_if<db::access::sql::CreateTableStatement>(&statement)) {
    if (c->columns.size() != 1 || c->columns[0].length ||
        (c->columns[0].type != "VARCHAR" && c->columns[0].type != "LONGTEXT"))
      return std::nullopt;
    return db::CreateTableStatement(c->table, c->columns[0].name, c->columns[0].type == "LONGTEXT");
  }
  const auto& i = std::get<db::access::sql::InsertStatement>(statement);
  if (i.values.size() != 1) return std::nullopt;
  return db::InsertStatement(i.table, i.values[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string sql(reinterpret_cast<const char*>(data), size);
  db::access::sql::AccessStatement statement;
  try {
    statement = db::access::sql::ParseAccessStatement(sql);
  } catch (const db::Error& e) {
    if (e.number() != db::errc::kSyntax)
      fuzz::Violation("a refused statement gave error number " + std::to_string(e.number()));
    return 0;
  }
  const std::optional<std::string> again = ProgramText(statement);
  if (!again) return 0;
  try {
    if (!(db::access::sql::ParseAccessStatement(*again) == statement))
      fuzz::Violation("\"" + *again + "\" parses to another statement than \"" + sql + "\"");
  } catch (const db::Error& e) {
    fuzz::Violation("\"" + *again + "\", written for \"" + sql +
                    "\", is refused: " + e.description());
  }
  return 0;
}
