// Pages of an Access file and what every kind of page starts with (little-endian).
//
// A file is a run of pages of one size: 2048 bytes in Jet 3 files, 4096 bytes in Jet 4 and ACE
// files. Page 0 is the header (header.h); page 1 holds the free-space map of the whole file;
// page 2 the definition of the catalog (catalog.h). Byte 0 of every page is its kind, byte 1
// is 0x01 on every page the engine writes.
//
// Data page (Jet 4 / ACE; Jet 3 offsets in brackets): free bytes (16 bits) at 2, owning
// definition page (32 bits) at 4 ("LVAL" there on a page of long values), zero at 8 [absent],
// row count (16 bits) at 12 [8], then one 16-bit row start per row from 14 [10]. Rows fill the page
// from its end downwards in row order: row 0 ends at the page end, row n ends where row n-1 starts.
// The low 13 bits of a row start are its offset, the two high bits the row's state:
//   none    a live row;
//   0xC000  a deleted row;
//   0x4000  a moved row: its first 4 bytes name its data (row number in 8 bits, then the page in
//           24 bits);
//   0x8000  the data of a moved row, read through that row only.
// Readers that only want rows of their own skip every row with the 0x8000 bit (deleted rows
// carry it too).
//
// Usage map (one row of a data page): kind at 0. Inline (0): the first page the bitmap covers
// (32 bits) at 1, the bitmap from 5; the map rows Access makes hold 64 [128] bytes of bitmap
// (the file's own map on page 1 too). Reference (1): from 1, 32-bit numbers of map pages; map
// page k (kind 0x05, "05 01 00 00") holds a bitmap from byte 4 that covers the pages
// (page size - 4) * 8 * k onwards.
//
// Long value (memo, OLE) as a row stores it: 12 bytes, the length of the data in the first three
// bytes and the kind in the fourth: 0x80 the data follows inline (after the 12 bytes); 0x40 the
// data is the one row named by the row address (bytes.h) at 4; 0x00 a chain of rows from the row
// address at 4, each row starting with the address of the next (zero in the last) and holding
// the next piece of the data after it. Bytes 8 to 11 are zero. libmdb reads the length from the
// low 30 bits, mdb-reader and Jackcess from the low 24: a value longer than 0xFFFFFF bytes cannot
// be stored so that all of them read it.
// Long-value pages are data pages whose owner field reads "LVAL". Access fills a page of a chain
// up to 4 bytes short of the page: a long-value row holds at most the page size less the data
// page header, one row start and those 4 bytes (4076 bytes in Jet 4 and ACE, 2032 in Jet 3).
// Access keeps a long value inline only up to 64 bytes, and a table records the pages of each
// long-value column in that column's maps (definition.h); Jet 4 files may list them in the
// table's own page map instead.
#pragma once

#include <cstddef>
#include <cstdint>

namespace db::access::format {

// Page sizes.
constexpr std::size_t kJet3PageSize = 2048;
constexpr std::size_t kPageSize = 4096;  // Jet 4 and ACE

// Page kinds (byte 0).
constexpr unsigned char kHeaderPage = 0x00;
constexpr unsigned char kDataPage = 0x01;
constexpr unsigned char kDefinitionPage = 0x02;
constexpr unsigned char kIndexNodePage = 0x03;
constexpr unsigned char kIndexLeafPage = 0x04;
constexpr unsigned char kMapPage = 0x05;
// Access releases a definition page by turning its kind into 0x08 and a page of long values by
// turning it into 0x09; the rest of the page stays as it was.
constexpr unsigned char kReleasedDefinitionPage = 0x08;
constexpr unsigned char kReleasedLongValuePage = 0x09;
// Byte 1 of every page the engine writes.
constexpr unsigned char kPageMark = 0x01;

// Fixed pages.
constexpr std::uint32_t kFileMapPage = 1;

// Data page layout.
constexpr std::size_t kDataFreeBytesAt = 2;
constexpr std::size_t kDataOwnerAt = 4;
constexpr std::size_t kDataRowCountAt = 12;
constexpr std::size_t kJet3DataRowCountAt = 8;
constexpr std::size_t kDataHeader = 14;  // the row starts begin here
// The owner field of a page of long values: "LVAL".
constexpr std::uint32_t kLongValueOwner = 0x4C41564C;

// Row starts.
constexpr std::uint16_t kRowDeleted = 0xC000;
constexpr std::uint16_t kRowMoved = 0x4000;
constexpr std::uint16_t kRowMovedData = 0x8000;
constexpr std::uint16_t kRowFlags = 0xC000;
constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
// The bit of every row start that is no row of its own (deleted rows and moved data).
constexpr std::uint16_t kRowSkipBit = 0x8000;
// A row number is one byte wherever it is stored (index entries, moved rows, row addresses).
constexpr unsigned kMaxRowsPerPage = 0xFF;

// The page facts that differ between the generations. The page size tells them apart: only
// Jet 3 files have pages of 2048 bytes.
struct PageLayout {
  bool jet3;
  std::size_t pageSize;
  std::size_t dataRowCountAt;  // row count of a data page
  std::size_t dataHeader;      // a data page's row starts begin here
  std::size_t mapBitmapBytes;  // bitmap bytes of an inline map row Access makes
};
constexpr PageLayout kJet4Pages{false, kPageSize, kDataRowCountAt, kDataHeader, 64};
constexpr PageLayout kJet3Pages{true, kJet3PageSize, kJet3DataRowCountAt, 10, 128};
constexpr const PageLayout& PagesOfSize(std::size_t pageSize) {
  return pageSize == kJet3PageSize ? kJet3Pages : kJet4Pages;
}

// Usage maps.
constexpr unsigned char kInlineMap = 0;
constexpr unsigned char kReferenceMap = 1;
constexpr std::size_t kInlineMapBitmapAt = 5;
constexpr std::size_t kMapPageBitmapAt = 4;

// Long values.
constexpr std::size_t kLongValueHeader = 12;
constexpr std::size_t kLongValuePointerAt = 4;  // the row address of the data
constexpr std::uint32_t kInlineLongValue = 0x80000000;
constexpr std::uint32_t kSingleRowLongValue = 0x40000000;
constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFF;
constexpr std::uint32_t kMaxLongValueLength = 0x00FFFFFF;  // that every reader takes
constexpr std::size_t kMaxInlineLongValue = 64;
constexpr std::size_t kLongValuePageSlack = 4;  // bytes a full long-value page keeps free
constexpr std::size_t kLongValueNextAt = 0;     // a chain row: the address of the next row

}  // namespace db::access::format
