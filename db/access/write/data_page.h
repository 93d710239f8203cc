// Data pages and the rows on them (Jet 4 / ACE layout, little-endian).
//
// Data page: 01 01, free bytes (16 bits) at 2, owning definition page (32 bits) at 4, zero at
//   8, row count (16 bits) at 12, then one 16-bit row start per row. Rows fill the page from
//   its end downwards in row order: row 0 ends at the page end, row n ends where row n-1 starts.
//   Every reader finds a row's end that way, so the order is kept whatever happens to a row.
//   The free bytes are those between the row starts and the lowest row.
//   The two high bits of a row start tell the row's state:
//     none    a live row;
//     0xC000  a deleted row. Access keeps its bytes; they may be dropped (zero length) when the
//             page is packed, since every reader skips the row (but for row 0, whose start
//             would then lie at the page end, outside the page);
//     0x4000  a moved row: Access moved the row's data elsewhere when it grew. Its first 4 bytes
//             name the data (row number in 8 bits, then the page in 24 bits); the row keeps its
//             size, and index entries name it, never the data;
//     0x8000  the data of a moved row, named by one moved row of the same table. It is read
//             through that row only. (libmdb and mdb-reader skip 0x4000 rows and read 0x8000
//             rows in their place, so they meet the same data in another order.)
//   The writer appends rows under new numbers and never reuses a number: a moved row's data and
//   an index entry left behind by damage name rows by number. Packing a page drops only the
//   bytes of deleted rows.
// Row: column count (16 bits: the definition's largest column count), the fixed-length values
//   at 2 + their fixed offset, the variable-length values one after another, then from the
//   end backwards: the null mask (one bit per column number, set = not null), the number of
//   variable-length columns (16 bits), their start offsets in reverse order (the first
//   column's start nearest the count) and before them the end of the variable data.
// Text: plain UTF-16LE, or, in a column with Unicode compression, FF FE followed by one byte
//   per character when every character fits a byte (otherwise plain).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/access/format/bytes.h"

namespace db::jetw {

constexpr unsigned char kDataPageType = 0x01;
constexpr std::size_t kDataHeader = 14;
constexpr std::uint16_t kRowDeleted = 0xC000;
constexpr std::uint16_t kRowMoved = 0x4000;
constexpr std::uint16_t kRowMovedData = 0x8000;
constexpr std::uint16_t kRowFlags = 0xC000;
constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
// A row number is one byte wherever it is stored (index entries, moved rows, map references).
constexpr unsigned kMaxRowsPerPage = 0xFF;

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
  int number = 0;       // bit in the null mask
  bool fixed = false;
  int fixedOffset = 0;  // fixed columns
  int length = 0;       // fixed columns: bytes
  int varIndex = 0;     // variable columns: slot in the offset table
  bool boolean = false; // Yes/No: the null-mask bit is the value, nothing else is stored
};

// One value: nothing for Null, else its stored bytes (for a Yes/No column one byte 0 or 1).
using RowValue = std::optional<Bytes>;

// Builds a row. `columnCount` is the stored column count, `varCount` the size of the offset
// table. Values are given in the order of `columns`.
Bytes EncodeRow(const std::vector<RowColumn>& columns, const std::vector<RowValue>& values,
                unsigned columnCount, unsigned varCount);
// Splits a row back into values (in the order of `columns`). Columns added after the row was
// written read as Null. Throws db::Error for a row that does not hold together.
std::vector<RowValue> DecodeRow(const std::vector<RowColumn>& columns, const unsigned char* row,
                                std::size_t size);

// Text as the engine stores it.
Bytes EncodeText(const std::u16string& text, bool compress);
std::u16string DecodeText(const Bytes& bytes);

}  // namespace db::jetw
