// User tables of typed columns (Text, Memo, Long Integer, Double, Date/Time, Yes/No) created and
// filled through PageIo: the definition with its maps, the catalogue row and permissions of the
// table, and rows given as db::Value.
//
// Values stored per type:
//   Text          UTF-16LE, compressed as the column says; longer than the column: refused
//   Memo          a long value (db/access/write/long_values.h): inline, one row of a
//                 long-value page or a chain of them; its text compressed as the column says
//                 up to 1024 characters (db/access/format/text.h)
//   Long Integer  4 bytes, Double and Date/Time 8 bytes (an IEEE double; dates as OLE dates)
//   Yes/No        the null-mask bit; a Null stores No, as Access has no Null Yes/No value
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/access/write/catalog_rows.h"
#include "db/access/write/table_rows.h"
#include "db/access/write/definition_build.h"
#include "db/access/write/long_values.h"
#include "db/access/write/usage_map.h"
#include "db/base/value.h"

namespace db::access::write {

class TypedTables {
 public:
  explicit TypedTables(PageIo& io, std::function<double()> clock = OleNow);

  // Creates a user table. Throws db::Error, before anything is written, for a name Access does
  // not take, a name in use, a column name given twice or a column type not supported.
  std::uint32_t create(const std::u16string& name, const std::vector<NewColumnDef>& columns);
  // Adds one row to the table defined on `definitionPage` (values in column order). Throws
  // db::Error, before anything is written for the row, for a value its column cannot hold.
  void insert(std::uint32_t definitionPage, const std::vector<Value>& row);
  // Writes the row counts kept in memory.
  void flush();

 private:
  TableRows& rowsOf(std::uint32_t definitionPage);

  PageIo& io_;
  std::function<double()> clock_;
  PageAllocator pages_;
  CatalogWriter catalog_;
  LongValueWriter longValues_;
  std::map<std::uint32_t, std::unique_ptr<TableRows>> tables_;
};

// The stored bytes of a fixed-size or Text value for `column` (Memo excluded), Null for a Null
// value (No for Yes/No). Throws db::Error for a value the column cannot hold.
RowValue EncodeFixedOrText(const TdefColumn& column, const Value& value);

}  // namespace db::access::write
