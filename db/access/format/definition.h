// Table definitions (Jet 4 / ACE offsets; Jet 3 offsets in brackets; little-endian).
//
// Definition pages are of kind 0x02 (pages.h), chained by the next page at 4; a continuation
// page adds its bytes from offset 8 on. First page:
//   2  free bytes of the page [the letters "VC"]   4  next definition page
//   8  bytes used on the page      12 0x0659 [row count]        16 row count [next autonumber]
//   20 next autonumber [table type]                24 1
//   40 0x4E user table, 0x53 system table
//   41 [21] largest column count (column numbers lie below it)
//   43 [23] variable column count      45 [25] column count          47 [27] index count
//   51 [31] real index count
//   55 [35] owned-pages map (row address)  59 [39] free-space map (row address)
//   63 [43] 12 [8] bytes per real index (row count of the index at 4), then 25 [18] bytes per
//      column: type 0, 0x0659 at 1 [absent], column number 5 [1], variable slot 7 [3], column
//      index 9 [5], [0x0001 at 7], sort order 11 [9] (0x0409 General), [code page of a text
//      column 11], scale 12, sort version 14 [none], flags 15 [13] (0x01 fixed, 0x02 always,
//      0x04 autonumber), extended flags 16 [none] (0x01 Unicode compression), fixed offset 21
//      [14], length 23 [16] (of a Text column: bytes, two per character [one]).
//   Then the column names (16-bit [8-bit] byte count, UTF-16LE [the code page's bytes]), 52
//   [39] bytes per real index (column numbers and orders from 4 [0], its page map at 34 [30],
//   first index page at 38 [34]), 28 [20] bytes per index, the index names (16-bit [8-bit]
//   byte count), and for each long-value column: column number (16 bits) and its owned-pages
//   and free-space maps (row address each), closed by FF FF. Access 97 lists them the same
//   way (its catalogue tables do; some with no free-space map, a zero address). A Memo column
//   entry has length 0 and, in Jet 3, the code page its text is kept in, as a Text column.
// The column entries are listed in the table's column order; the column number is the position
// in the row data and keeps gaps left by deleted columns.
//
// Row (Jet 4 / ACE): column count (16 bits: the definition's largest column count), the
// fixed-length values at 2 + their fixed offset, the variable-length values one after another,
// then from the end backwards: the null mask (one bit per column number, set = not null), the
// number of variable-length columns (16 bits), their start offsets in reverse order (the first
// column's start nearest the count) and before them the end of the variable data.
// Row (Jet 3): the same with 8-bit numbers: the column count in one byte, the fixed values at 1 +
// their fixed offset, the variable column count in one byte, the starts and the end of the data
// in one byte each (their low 8 bits), and between the starts and the count a jump table of
// (row size - 1) / 256 bytes: entry j (the one nearest the count first) is the position in the
// list of starts (the end of the data last) of the first one at 256 * (j + 1) or more, or 0xFF
// when none is; at most its last entry may be such a 0xFF, and only when the end of the data
// lies below 256 * (number of entries).
#pragma once

#include <cstddef>
#include <cstdint>

#include "db/access/format/pages.h"

namespace db::access::format {

// First definition page (Jet 4 / ACE).
constexpr std::size_t kDefFreeBytesAt = 2;
constexpr std::size_t kDefNextPageAt = 4;
constexpr std::size_t kDefUsedBytesAt = 8;
constexpr std::size_t kDefMagicAt = 12;
constexpr std::size_t kDefRowCountAt = 16;
constexpr std::size_t kDefAutonumberAt = 20;
constexpr std::size_t kDefTableTypeAt = 40;
constexpr std::size_t kDefMaxColumnsAt = 41;
constexpr std::size_t kDefVarColumnsAt = 43;
constexpr std::size_t kDefColumnCountAt = 45;
constexpr std::size_t kDefIndexCountAt = 47;
constexpr std::size_t kDefRealIndexCountAt = 51;
constexpr std::size_t kDefOwnedMapAt = 55;
constexpr std::size_t kDefFreeMapAt = 59;
constexpr std::size_t kDefHeader = 63;
// A continuation page's bytes start here.
constexpr std::size_t kDefContinuationAt = 8;

constexpr std::size_t kRealIndexHead = 12;
constexpr std::size_t kColumnEntry = 25;
constexpr std::size_t kRealIndexEntry = 52;
constexpr std::size_t kIndexEntry = 28;
constexpr std::uint32_t kMagic0659 = 0x0659;
constexpr unsigned char kUserTable = 0x4E;
constexpr unsigned char kSystemTable = 0x53;

// Column entry.
constexpr std::size_t kColumnTypeAt = 0;
constexpr std::size_t kColumnNumberAt = 5;
constexpr std::size_t kColumnVarSlotAt = 7;
constexpr std::size_t kColumnIndexAt = 9;
constexpr std::size_t kColumnSortOrderAt = 11;
constexpr std::size_t kColumnScaleAt = 12;
constexpr std::size_t kColumnSortVersionAt = 14;
constexpr std::size_t kColumnFlagsAt = 15;
constexpr std::size_t kColumnExtFlagsAt = 16;
constexpr std::size_t kColumnFixedOffsetAt = 21;
constexpr std::size_t kColumnLengthAt = 23;

// Column flags and extended flags.
constexpr int kFixedColumn = 0x01;
constexpr int kAlwaysColumn = 0x02;
constexpr int kAutonumberColumn = 0x04;
constexpr int kCompressedColumn = 0x01;  // extended flags: Unicode compression
constexpr std::uint16_t kGeneralSortOrder = 0x0409;

// The offsets of both generations, per generation (see above): the first line those a reader
// needs (`realIndexEntry` is the 12 [8] bytes per real index before the columns, `rowCount` that
// of a data page), the second what the writer and the checker need besides. A field the
// generation does not have is 0.
struct DefinitionLayout {
  std::size_t maxColumns, varColumnCount, columnCount, realIndexCount, usageMap, freeMap,
      columnsStart, realIndexEntry, columnEntry, columnNumber, columnScale, columnFlags,
      columnFixedOffset, columnLength, nameLengthSize, rowCount /* of a data page */;
  std::size_t tableRowCount, tableType, indexCount, columnVarSlot, columnIndex, columnSortOrder,
      columnSortVersion, columnExtFlags, columnCodePage, realIndexDefinition, realIndexColumnsAt,
      realIndexMapAt, realIndexFirstPageAt, indexEntry;
  bool jet3;
};
constexpr DefinitionLayout kJet4Layout{kDefMaxColumnsAt,
                                       kDefVarColumnsAt,
                                       kDefColumnCountAt,
                                       kDefRealIndexCountAt,
                                       kDefOwnedMapAt,
                                       kDefFreeMapAt,
                                       kDefHeader,
                                       kRealIndexHead,
                                       kColumnEntry,
                                       kColumnNumberAt,
                                       kColumnScaleAt,
                                       kColumnFlagsAt,
                                       kColumnFixedOffsetAt,
                                       kColumnLengthAt,
                                       2,
                                       12,
                                       kDefRowCountAt,
                                       kDefTableTypeAt,
                                       kDefIndexCountAt,
                                       kColumnVarSlotAt,
                                       kColumnIndexAt,
                                       kColumnSortOrderAt,
                                       kColumnSortVersionAt,
                                       kColumnExtFlagsAt,
                                       0,
                                       kRealIndexEntry,
                                       4,
                                       34,
                                       38,
                                       kIndexEntry,
                                       false};
constexpr DefinitionLayout kJet3Layout{21, 23, 25, 31, 35, 39, 43, 8,  18,  1, 12,
                                       13, 14, 16, 1,  8,  12, 20, 27, 3,   5, 9,
                                       0,  0,  11, 39, 0,  30, 34, 20, true};
// The letters Jet 3 keeps at 2 of a definition page.
constexpr unsigned char kJet3DefinitionMark[2] = {'V', 'C'};
// Jet 3 column entries hold 0x0001 at 7, as Access 97 writes them.
constexpr std::size_t kJet3ColumnMarkAt = 7;
constexpr const DefinitionLayout& DefinitionLayoutOf(std::size_t pageSize) {
  return pageSize == kJet3PageSize ? kJet3Layout : kJet4Layout;
}

// Column types.
namespace coltype {
constexpr int kBoolean = 0x01;
constexpr int kByte = 0x02;
constexpr int kInteger = 0x03;
constexpr int kLong = 0x04;
constexpr int kCurrency = 0x05;
constexpr int kSingle = 0x06;
constexpr int kDouble = 0x07;
constexpr int kDateTime = 0x08;
constexpr int kBinary = 0x09;
constexpr int kText = 0x0A;
constexpr int kOle = 0x0B;
constexpr int kMemo = 0x0C;
constexpr int kReplicationId = 0x0F;
constexpr int kNumeric = 0x10;
constexpr int kComplex = 0x12;
constexpr int kBigInt = 0x13;
constexpr int kExtendedDate = 0x14;
}  // namespace coltype

// Bytes a non-null value of a fixed-size type holds at least; 0 for types of any length. A
// column of such a type whose values are shorter is damage to every reader and the writer.
constexpr std::size_t ValueSize(int type) {
  switch (type) {
    case coltype::kByte:
      return 1;
    case coltype::kInteger:
      return 2;
    case coltype::kLong:
    case coltype::kSingle:
    case coltype::kComplex:
      return 4;
    case coltype::kCurrency:
    case coltype::kDouble:
    case coltype::kDateTime:
    case coltype::kBigInt:
      return 8;
    case coltype::kReplicationId:
      return 16;
    case coltype::kNumeric:
      return 17;
    case coltype::kExtendedDate:
      return 39;
    default:
      return 0;
  }
}

}  // namespace db::access::format
