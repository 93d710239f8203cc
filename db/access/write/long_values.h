// Long values (Memo and OLE) as the writer stores them; the layout is described in
// db/access/format/pages.h. A value of
//   at most 64 bytes     stays in its row, after the 12-byte header;
//   at most one row      goes to one row of a long-value page (MaxLongValueRow: 4076 bytes on
//                        4096-byte pages); such rows of one column share a page while it has room;
//   more                 goes to a chain of pages, one row each: every row but the last a full
//                        long-value row, each starting with the address of the next row (zero in
//                        the last), the pieces in order, so that the rows add up to the length.
// Every long-value page is recorded in the column's own page map (or in the table's page map
// when the column has none, as Jet 4 files may have it). A page that single rows share is in
// the column's free-space map too while it has room; a page of a chain holds nothing else.
// The pages go back to the file with their table (DROP TABLE releases what the maps list).
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "db/access/format/page_io.h"
#include "db/access/write/definition.h"
#include "db/access/write/usage_map.h"

namespace db::access::write {

// The largest long-value row a page of `pageSize` bytes takes, as Access fills them.
std::size_t MaxLongValueRow(std::size_t pageSize);

class LongValueWriter {
 public:
  LongValueWriter(PageIo& io, PageAllocator& pages) : io_(io), pages_(pages) {}

  // The stored field (header, and the data when it stays inline) of `data` for `column` of the
  // table `def`; the data goes to long-value pages when it is longer than an inline value.
  // Throws db::Error, before a page is taken, for data longer than every reader takes.
  Bytes store(const TableDef& def, const TdefColumn& column, const Bytes& data);
  // Forgets the pages the table defined on `definitionPage` shared (it was dropped).
  void forget(std::uint32_t definitionPage);

 private:
  struct Maps {
    RowRef owned, freeSpace;
  };
  Maps mapsOf(const TableDef& def, const TdefColumn& column) const;
  RowRef storeRow(const TableDef& def, const TdefColumn& column, const Maps& maps,
                  const Bytes& row);
  void record(RowRef map, std::uint32_t page);

  PageIo& io_;
  PageAllocator& pages_;
  // Per table and column number: the long-value page its single rows share.
  std::map<std::pair<std::uint32_t, int>, std::uint32_t> shared_;
};

// Refuses a value longer than its column holds, in Access's words.
[[noreturn]] void RefuseTooLong();
// Refuses (RefuseTooLong) data of `bytes` bytes longer than a long value can be.
void CheckLongValueLength(std::size_t bytes);

// The rows of long-value pages a stored field names, in order: none for an inline value, one
// for a single row, the rows of its chain. The walk stops, keeping what it found, where the
// field or a row is cut short, where an address leaves the file or names no row of a long-value
// page, and where the chain comes back to a row it met; readers report those values as damaged.
std::vector<RowRef> LongValueRows(const PageIo& io, const unsigned char* field, std::size_t size);

}  // namespace db::access::write
