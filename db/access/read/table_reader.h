// One table of an Access file, read row by row through libmdb.
//
// The structures read here are described in db/access/format/: definition.h (table
// definitions, both generations), pages.h (data pages, usage maps, long values).
// Every page a table's usage map names is a data page of that table; the rows holding the maps
// themselves are rows of data pages too. Anything else there is damage.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/access/read/database.h"
#include "db/base/value.h"

namespace db::access::read {

class JetTable {
 public:
  // Reads and checks the definition of the table whose definition starts on `definitionPage`,
  // and the list of its data pages. Reads no rows. Throws db::Error for a damaged definition.
  JetTable(const JetDatabase& db, std::string name, std::uint32_t definitionPage);
  ~JetTable();
  JetTable(const JetTable&) = delete;
  JetTable& operator=(const JetTable&) = delete;

  const std::string& name() const { return name_; }
  // Field names in the table's column order; deleted columns are not among them.
  const std::vector<std::string>& fieldNames() const { return names_; }
  // Position of a field in fieldNames(), letter case ignored.
  std::optional<std::size_t> findField(const std::string& name) const;

  // Reads the values of the fields at `fields` (positions in fieldNames()) of the next row into
  // `row`. False after the last row. Throws db::Error when the row is damaged.
  bool next(const std::vector<std::size_t>& fields, std::vector<Value>& row);

 private:
  struct ListedColumn {
    int number = 0;  // column number (position in the row data)
    int type = 0;
    bool fixed = false;
    int fixedOffset = 0;
    int length = 0;
    int scale = 0;  // decimals of a Decimal column
  };

  std::vector<unsigned char> definitionBytes() const;
  std::vector<ListedColumn> readListedColumns() const;
  void attachColumns(const std::vector<ListedColumn>& listed);
  void collectDataPages();
  bool isOwnDataPage(const unsigned char* page) const;
  bool readRow(std::uint32_t page, unsigned row, const std::vector<std::size_t>& fields,
               std::vector<Value>& values);
  Value decode(std::size_t libColumn) const;
  std::string longValue(const unsigned char* header, std::size_t size) const;
  std::string lvalRow(std::uint32_t pageRow) const;
  [[noreturn]] void damaged(const std::string& detail) const;

  const JetDatabase& db_;
  std::string name_;
  std::uint32_t definitionPage_;
  MdbCatalogEntry entry_{};
  MdbTableDef* table_ = nullptr;
  std::vector<std::string> names_;
  std::vector<std::size_t> libIndex_;  // per listed field: its index in libmdb's column array
  std::vector<int> scales_;            // per libmdb column: the scale of a Decimal column
  std::vector<MdbField> fields_;       // the current row, cracked by libmdb
  std::vector<std::uint32_t> pages_;   // data pages from the usage map
  std::size_t pageIndex_ = 0;
  unsigned rowIndex_ = 0;
  unsigned rowCount_ = 0;
};

}  // namespace db::access::read
