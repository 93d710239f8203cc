// Table definitions of any column mix, built from typed column and index descriptions (the
// layout is described in db/access/write/definition.h). Used for the system tables of a new
// database and for user tables of Text, Memo, Long Integer, Double, Date/Time and Yes/No columns.
//
// Column numbers follow the order of `columns`. Fixed-length columns get their offsets in that
// order (a Yes/No column takes no bytes: its value is the null-mask bit); variable-length ones
// get the next slot of the offset table. A Memo or OLE column gets the page maps of its long
// values in the definition's tail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/access/write/definition.h"

namespace db::access::write {

struct NewColumnDef {
  std::u16string name;
  int type = coltype::kText;
  int length = 255;        // Text: characters; Binary: bytes; ignored by other types
  bool compressed = true;  // Text and Memo: Unicode compression
};

struct NewIndexDef {
  std::u16string name;
  std::vector<TdefRealIndex::Part> parts;  // column numbers
  std::uint8_t flags = 0;  // 0x01 unique, 0x02 ignore nulls, 0x08 required, 0x80 system
  bool primaryKey = false;
  RowRef pageMap;               // the index's usage map row
  std::uint32_t firstPage = 0;  // root page
};

struct NewTableDef {
  bool system = false;         // 0x53 system table (else 0x4E user table)
  bool entriesByName = false;  // column entries listed by name, as Access lists a system table's
  std::vector<NewColumnDef> columns;
  std::vector<NewIndexDef> indexes;
  RowRef owned;
  RowRef freeSpace;
  // Long-value maps of each Memo / OLE column in column order (owned, free space).
  std::vector<std::pair<RowRef, RowRef>> longValueMaps;
};

// Bytes a fixed-length column takes in a row; 0 for variable-length types and Yes/No.
int FixedColumnSize(int type);
bool IsLongValueType(int type);

// One definition page. Throws db::Error when it does not fit one page or a type is unknown.
Bytes BuildTableDef(std::size_t pageSize, const NewTableDef& def);

// Sets the row count kept with each real index of the definition on `page` (Access keeps the
// table's row count there).
void WriteIndexRowCounts(PageIo& io, std::uint32_t page, std::uint32_t rows);

}  // namespace db::access::write
