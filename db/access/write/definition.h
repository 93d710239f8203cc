// Table definitions as the writer reads and writes them (Jet 4 / ACE layout, little-endian).
//
// Definition page(s) of type 02 01, chained by the next page at 4; a continuation page adds
// its bytes from offset 8 on. First page:
//   2  free bytes of the page          4  next definition page       8  bytes used on the page
//   12 0x0659                          16 row count                  20 next autonumber
//   24 1                               40 0x4E user table, 0x53 system table
//   41 largest column count            43 variable column count      45 column count
//   47 index count                     51 real index count
//   55 owned-pages map (page/row)      59 free-space map (page/row)
//   63 12 bytes per real index (row count of the index at 4), then 25 bytes per column:
//      type 0, 0x0659 at 1, column number 5, variable slot 7, column index 9, sort order 11
//      (0x0409 General), flags 15 (0x01 fixed, 0x02 always, 0x04 autonumber), extended flags
//      16 (0x01 Unicode compression), fixed offset 21, length 23.
//   Then the column names (16-bit byte count, UTF-16LE), 52 bytes per real index (column
//   numbers and orders from 4, its page map at 34, first index page at 38), 28 bytes per
//   index, the index names, and for each long-value column: column number (16 bits) and its
//   owned-pages and free-space maps (page/row each), closed by FF FF.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/access/format/page_io.h"
#include "db/access/write/data_page.h"
#include "db/access/format/bytes.h"

namespace db::jetw {

constexpr unsigned char kDefinitionPageType = 0x02;

// Sizes and markers of the definition layout above, for the code that reads it and the code
// that builds it.
namespace tdef_layout {
constexpr std::size_t kHeader = 63;
constexpr std::size_t kRealIndexHead = 12;
constexpr std::size_t kColumnEntry = 25;
constexpr std::size_t kRealIndexEntry = 52;
constexpr std::size_t kIndexEntry = 28;
constexpr std::uint32_t kMagic0659 = 0x0659;
}  // namespace tdef_layout

// Column types the writer names.
namespace coltype {
constexpr int kBoolean = 0x01;
constexpr int kByte = 0x02;
constexpr int kInteger = 0x03;
constexpr int kLong = 0x04;
constexpr int kDateTime = 0x08;
constexpr int kBinary = 0x09;
constexpr int kText = 0x0A;
constexpr int kOle = 0x0B;
constexpr int kMemo = 0x0C;
}  // namespace coltype

struct TdefColumn {
  int type = 0;
  int number = 0;
  int varIndex = 0;
  int flags = 0;
  int extFlags = 0;
  int fixedOffset = 0;
  int length = 0;
  std::uint16_t sortOrder = 0;  // text columns: 0x0409 General
  std::uint8_t sortVersion = 0;
  std::u16string name;
  bool fixed() const { return flags & 0x01; }
  bool compressed() const { return extFlags & 0x01; }
  RowColumn rowColumn() const;
};

struct TdefRealIndex {
  struct Part {
    int column = 0;  // column number
    bool ascending = true;
  };
  std::vector<Part> parts;
  RowRef pageMap;
  std::uint32_t firstPage = 0;
};

struct TdefLongValueMaps {
  int column = 0;
  RowRef owned;
  RowRef freeSpace;
};

struct TableDef {
  std::uint32_t page = 0;               // first definition page
  std::vector<std::uint32_t> pages;     // the whole chain
  std::uint32_t rowCount = 0;
  unsigned maxColumns = 0;
  unsigned varColumns = 0;
  unsigned indexCount = 0;
  RowRef ownedPages;
  RowRef freeSpacePages;
  std::vector<TdefColumn> columns;      // in the definition's order
  std::vector<TdefRealIndex> realIndexes;
  std::vector<TdefLongValueMaps> longValueMaps;

  std::vector<RowColumn> rowColumns() const;
  unsigned varSlots() const;            // size of a row's offset table
  // Column position by name, letter case ignored; -1 when absent.
  int find(const std::u16string& name) const;
};

// Reads the definition that starts on `page`. Throws db::Error when it is damaged.
TableDef ReadTableDef(const PageIo& io, std::uint32_t page);

// Sets the row count of the definition on `page`.
void WriteRowCount(PageIo& io, std::uint32_t page, std::uint32_t rows);

struct NewTextColumn {
  std::u16string name;
  int length = 255;  // characters
};

// A one-page definition of a user table of Text columns without indexes, with its two maps
// at `owned` and `freeSpace`. Text columns get Unicode compression, as Access gives them.
Bytes BuildTextTableDef(std::size_t pageSize, const std::vector<NewTextColumn>& columns,
                        RowRef owned, RowRef freeSpace);

// Closes a one-page definition built in `def`: the end marker of the long-value maps, the
// free and used byte counts, and padding to the page size. Throws when it does not fit.
void FinishDefinitionPage(Bytes& def, std::size_t pageSize);

}  // namespace db::jetw
