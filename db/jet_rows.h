// Data pages and the rows on them (Jet 4 / ACE layout, little-endian).
//
// Data page: 01 01, free bytes (16 bits) at 2, owning definition page (32 bits) at 4, zero at
//   8, row count (16 bits) at 12, then one 16-bit row start per row. Rows fill the page from
//   its end downwards: row 0 ends at the page end, row n ends where row n-1 starts. 0x8000 in
//   a row start marks a deleted row, 0x4000 a row whose data moved to another page.
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

#include "db/jet_writer_bytes.h"

namespace db::jetw {

constexpr unsigned char kDataPageType = 0x01;
constexpr std::size_t kDataHeader = 14;
constexpr std::uint16_t kRowDeleted = 0x8000;
constexpr std::uint16_t kRowMoved = 0x4000;
constexpr std::uint16_t kRowOffsetMask = 0x1FFF;

Bytes NewDataPage(std::size_t pageSize, std::uint32_t owner);
unsigned DataRowCount(const Bytes& page);
std::uint32_t DataPageOwner(const Bytes& page);
std::size_t DataFreeSpace(const Bytes& page);

struct RowSlot {
  std::size_t start = 0;
  std::size_t end = 0;
  bool deleted = false;
  bool moved = false;
};
// Where row `row` lies. Throws db::Error when the page has no such row.
RowSlot DataRowSlot(const Bytes& page, unsigned row);
// Adds a row, in the place of a deleted one when there is one (packing the page when the
// bytes of deleted rows are needed); nothing when it does not fit.
std::optional<unsigned> InsertDataRow(Bytes& page, const Bytes& row);
// Marks a row deleted; its bytes stay where they are.
void DeleteDataRow(Bytes& page, unsigned row);
// Moves the live rows together at the page end; row numbers stay, deleted rows take no bytes.
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
