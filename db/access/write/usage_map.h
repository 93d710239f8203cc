// Usage maps: the bitmaps that say which pages belong to an object (a table's data pages, an
// index's pages, a long-value column's pages) or, on page 1, which pages of the file are free.
//
// A map is one row of a data page (layout in db/access/format/pages.h). Bit i of byte j of an
// inline bitmap set: page first + 8 * j + i is in the map.
// The row keeps its size: an inline map moves its first page when the pages it holds still fit
// the bitmap, and turns into a reference map when they do not (a reference map then gains a map
// page for each stretch of the file it reaches). A free-space map stays inline as Access keeps
// it: pages that no longer fit its window are dropped from it (they only lose their room for
// new rows, nothing is lost).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "db/access/format/page_io.h"
#include "db/access/format/bytes.h"
#include "db/access/format/pages.h"

namespace db::access::write {

using namespace db::access::format;

class PageClaims;

class UsageMap {
 public:
  // The map stored in row `where`. `newMapPage` gives a fresh page number for a map page when
  // an inline map must become a reference map. Throws db::Error when the row is not a map.
  UsageMap(PageIo& io, RowRef where, std::function<std::uint32_t()> newMapPage = {});

  std::vector<std::uint32_t> pages() const;
  bool contains(std::uint32_t page) const;
  // Whether `page` can be recorded without changing the map's kind or window.
  bool covers(std::uint32_t page) const;
  void add(std::uint32_t page);
  // Adds a page to a free-space map: an inline map too narrow for it moves its window up to
  // `page`, dropping the lowest pages it held.
  void addWithRoom(std::uint32_t page);
  void remove(std::uint32_t page);
  // The lowest page >= `from` and < `limit` held by the map, if any.
  std::optional<std::uint32_t> next(std::uint32_t from, std::uint32_t limit) const;
  // The map pages of a reference map (none for an inline map).
  std::vector<std::uint32_t> mapPages() const;
  bool isInline() const { return row_[0] == 0; }
  // The stored row, and a replacement of the same size (for the file map's growth).
  const Bytes& rowBytes() const { return row_; }
  void replaceRow(const Bytes& row);

 private:
  void load();
  void store();
  void set(std::uint32_t page, bool on);
  std::size_t bitsPerMapPage() const { return (io_.pageSize() - 4) * 8; }
  std::size_t inlineBits() const { return (row_.size() - 5) * 8; }
  void rebaseOrPromote(std::uint32_t page);
  void rewriteInline(std::uint32_t first, const std::vector<std::uint32_t>& held);
  std::uint32_t newMapPage();

  PageIo& io_;
  RowRef where_;
  std::function<std::uint32_t()> newMapPage_;
  std::size_t rowStart_ = 0;
  Bytes row_;
};

// Bytes of a fresh inline map row of `bitmapBytes` bytes of bitmap, starting at `first`.
Bytes NewInlineMapRow(std::uint32_t first = 0, std::size_t bitmapBytes = 64);

// The file's own page map (row 0 of page 1): a set bit marks a free page, and the pages past
// the end of the file are marked free. Allocation takes a free page inside the file first and
// adds pages at the end otherwise. When the file grows past the inline map's window, the map
// turns into a reference map (pages the inline window did not reach are kept as in use); each
// map page it gains starts with all its pages free, the map page itself taken.
//
// With `claims` (the pages the catalogue's structures use, surveyed when the transaction began)
// a free page is reused only when nothing claims it: a claimed page that the map calls free is
// damage (DamagedFileError), never overwritten. Pages given back are no longer claimed.
class PageAllocator {
 public:
  explicit PageAllocator(PageIo& io, PageClaims* claims = nullptr) : io_(io), claims_(claims) {}
  // A page for the caller, filled with `content`.
  std::uint32_t allocate(const Bytes& content);
  // Gives `page` back: it is cleared and marked free.
  void release(std::uint32_t page);
  bool isFree(std::uint32_t page) const;

 private:
  // Makes the map able to record `page` (the next page at the end of the file).
  void cover(UsageMap& map, std::uint32_t page);
  std::uint32_t appendMapPage(std::size_t index);

  PageIo& io_;
  PageClaims* claims_;
  std::uint32_t searchFrom_ = 3;  // no free page lies below it inside the file
};

}  // namespace db::access::write
