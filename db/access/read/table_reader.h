// One table of an Access file, read row by row through libmdb.
//
// Structures read here (Jet 4 / ACE offsets, Jet 3 in brackets; little-endian):
//   Table definition: starts on the page named by the catalogue (type 0x02) and continues on
//     the pages chained by the 32-bit number at offset 4; a continuation page adds its bytes
//     from offset 8 on. Maximum column count of a row at 41 [21] (column numbers lie below
//     it), variable column count at 43 [23], column count at 45 [25], real index
//     count at 51 [31], owned-pages map (page/row) at 55 [35], free-space map at 59 [39].
//     Column entries of 25 [18] bytes start at 63 [43] plus 12 [8] bytes per real index: type
//     at 0, column number at 5 [1], scale at 12, flags at 15 [13] (0x01 fixed length), fixed
//     offset at 21 [14], length at 23 [16]. The names follow, each after a 16-bit [8-bit] byte
//     count. The entries are listed in the table's column order; the column number is the
//     position in the row data and keeps gaps left by deleted columns.
//   Usage map: type 0 holds a first page number (32 bits at 1) and a bitmap from byte 5; type 1
//     holds 32-bit numbers of map pages (type 0x05), each a bitmap from byte 4 of the pages
//     (page size - 4) * 8 * index onwards.
//   Data page: type 0x01, owning definition page at 4, row count at 12 [8], then one 16-bit row
//     start per row; 0x8000 marks a deleted row, 0x4000 a row moved elsewhere whose data is a
//     row number (8 bits) and a page number (24 bits) of the moved row.
//   Long value (memo, OLE) in a row: 12 bytes: length in the low 30 bits of 32, 0x80000000 data
//     inline after the 12 bytes, 0x40000000 data in the one row named by the page/row at 4,
//     neither: a chain of rows from the page/row at 4, each starting with the next page/row.
//     Those rows are on data pages that hold "LVAL" at 4 instead of an owner.
//   Every page a table's usage map names is a data page of that table; the rows holding the
//     maps themselves are rows of data pages too. Anything else there is damage.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/access/read/database.h"
#include "db/value.h"

namespace db {

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

}  // namespace db
