// Data pages and the rows on them (Jet 3, Jet 4 and ACE layouts, little-endian; a page's size
// tells its layout).
//
// The layout of a data page and of a row is described in db/access/format/pages.h and
// definition.h. What the writer adds to it:
//   Every reader finds a row's end from the row before it, so the order is kept whatever happens
//   to a row. The free bytes are those between the row starts and the lowest row.
//   A deleted row (0xC000): Access keeps its bytes; they may be dropped (zero length) when the
//     page is packed, since every reader skips the row (but for row 0, whose start would then
//     lie at the page end, outside the page).
//   A moved row (0x4000): Access moved the row's data elsewhere when it grew; the row keeps its
//     size, and index entries name it, never the data. Its data (0x8000) is named by one moved
//     row of the same table. (libmdb and mdb-reader skip 0x4000 rows and read 0x8000 rows in
//     their place, so they meet the same data in another order.)
//   The writer appends rows under new numbers and never reuses a number: a moved row's data and
//   an index entry left behind by damage name rows by number. Packing a page drops only the
//   bytes of deleted rows.
// Text: see db/access/format/text.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/access/format/bytes.h"
#include "db/access/format/definition.h"
#include "db/access/format/pages.h"
#include "db/access/format/text.h"

namespace db::access::write {

// The writer speaks the format's names and codecs.
using namespace db::access::format;

Bytes NewDataPage(std::size_t pageSize, std::uint32_t owner);
unsigned DataRowCount(const Bytes& page);
std::uint32_t DataPageOwner(const Bytes& page);
std::size_t DataFreeSpace(const Bytes& page);

struct RowSlot {
  std::size_t start = 0;
  std::size_t end = 0;
  std::uint16_t flags = 0;
  bool live() const { return flags == 0; }
  bool deleted() const { return flags == kRowDeleted; }
  bool moved() const { return flags == kRowMoved; }
  bool movedData() const { return flags == kRowMovedData; }
  std::size_t size() const { return end - start; }
};
// Where row `row` lies. Throws db::Error when the page has no such row or the row lies outside
// its place.
RowSlot DataRowSlot(const Bytes& page, unsigned row);
// Checks that the row count fits the page, that every row lies in row order between the row
// starts and the page end, and that the recorded free space is the gap below the rows. Throws
// DamagedFileError (db/access/write/page_claims.h) when not.
void CheckDataPage(const Bytes& page);
// Where the data of moved row `row` lives. Throws db::Error when the row is no moved row or
// its pointer is cut short.
RowRef MovedRowData(const Bytes& page, unsigned row);
// Adds a row under a new number, below the others; when they leave no room, the bytes of
// deleted rows are dropped first. Nothing when it does not fit. Throws db::Error for a page
// that fails CheckDataPage.
std::optional<unsigned> InsertDataRow(Bytes& page, const Bytes& row);
// Marks a row deleted (0xC000); its bytes stay where they are. A moved row's data is another
// row, which the caller deletes too.
void DeleteDataRow(Bytes& page, unsigned row);
// Moves the rows together at the page end in row order; row numbers and states stay, deleted
// rows after row 0 take no bytes.
void CompactDataPage(Bytes& page);
// Whether every row of the page is deleted (or it has none).
bool DataPageEmpty(const Bytes& page);
// Largest row a fresh page takes.
std::size_t MaxRowSize(std::size_t pageSize);

// How a column sits in a row.
struct RowColumn {
  int number = 0;  // bit in the null mask
  bool fixed = false;
  int fixedOffset = 0;      // fixed columns
  int length = 0;           // fixed columns: bytes
  int varIndex = 0;         // variable columns: slot in the offset table
  bool boolean = false;     // Yes/No: the null-mask bit is the value, nothing else is stored
  std::size_t minSize = 0;  // bytes a value of a number type holds at least (read as a number)
};

// One value: nothing for Null, else its stored bytes (for a Yes/No column one byte 0 or 1).
using RowValue = std::optional<Bytes>;

// Builds a row, in the Jet 3 layout when `jet3`. `columnCount` is the stored column count,
// `varCount` the size of the offset table. Values are given in the order of `columns`. Throws
// db::Error for a Jet 3 row its 8-bit numbers cannot describe.
Bytes EncodeRow(const std::vector<RowColumn>& columns, const std::vector<RowValue>& values,
                unsigned columnCount, unsigned varCount, bool jet3 = false);
// Splits a row back into values (in the order of `columns`). Columns added after the row was
// written read as Null. Throws db::Error for a row that does not hold together.
std::vector<RowValue> DecodeRow(const std::vector<RowColumn>& columns, const unsigned char* row,
                                std::size_t size, bool jet3 = false);

}  // namespace db::access::write
