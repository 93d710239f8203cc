// Index pages (Jet 4 / ACE, 4096 bytes; Jet 3, 2048 bytes, offsets in brackets; header numbers
// little-endian, entry numbers big-endian):
//   0x00  kind: 0x04 leaf, 0x03 intermediate ("node") (pages.h)
//   0x01  0x01
//   0x02  free space: page size minus the end of the last entry (16 bits)
//   0x04  definition page of the table the index belongs to (32 bits)
//   0x08  zero (32 bits) [absent]
//   0x0C [0x08]  previous page on the same level, 0 for none (32 bits)
//   0x10 [0x0C]  next page on the same level, 0 for none (32 bits)
//   0x14 [0x10]  tail page: in a node, its last child, which has no entry of its own (32 bits)
//   0x18 [0x14]  shared prefix length (16 bits): the first entry is stored whole, every later
//         one without its first "prefix length" bytes, which are those of the first entry
//   0x1A  zero [absent]
//   0x1B [0x16]  entry bitmap, 453 [226] bytes: bit n (low bit first) set means an entry ends n
//         bytes after the start of the entries; the first entry starts at the start
//   0x1E0 [0xF8] the entries, one after the other in key order
// Leaf entry: key (write/index_key.h), data page (3 bytes) and row (1 byte) of the row.
// Node entry: the last (greatest) entry of the child's subtree, key and page/row as in a leaf,
//   then the child page (4 bytes). A node with two or more children lists all but the last;
//   the last is the tail page. A node with a single child lists it.
// Leaves are chained through previous/next across the whole index; nodes only within their
// parent. The root page never moves (the table definition names it). Entries are ordered by key
// bytes, then data page, then row.
#pragma once

#include <cstddef>

#include "db/access/format/pages.h"

namespace db::access::format {

constexpr std::size_t kIndexFreeBytesAt = 0x02;
constexpr std::size_t kIndexOwnerAt = 0x04;
constexpr std::size_t kIndexPrevAt = 0x0C;
constexpr std::size_t kIndexNextAt = 0x10;
constexpr std::size_t kIndexTailAt = 0x14;
constexpr std::size_t kIndexPrefixAt = 0x18;
constexpr std::size_t kIndexBitmapAt = 0x1B;
constexpr std::size_t kIndexEntriesAt = 0x1E0;

// The offsets per generation, chosen by the page size (2048 bytes: Jet 3).
struct IndexPageLayout {
  std::size_t prevAt, nextAt, tailAt, prefixAt, bitmapAt, entriesAt;
};
constexpr IndexPageLayout kJet4IndexPages{kIndexPrevAt,   kIndexNextAt,   kIndexTailAt,
                                          kIndexPrefixAt, kIndexBitmapAt, kIndexEntriesAt};
constexpr IndexPageLayout kJet3IndexPages{0x08, 0x0C, 0x10, 0x14, 0x16, 0xF8};
constexpr const IndexPageLayout& IndexPagesOfSize(std::size_t pageSize) {
  return pageSize == kJet3PageSize ? kJet3IndexPages : kJet4IndexPages;
}

}  // namespace db::access::format
