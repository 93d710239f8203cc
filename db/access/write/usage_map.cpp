#include "db/access/write/usage_map.h"

#include <algorithm>
#include <map>

#include "db/base/error.h"
#include "db/access/write/page_claims.h"
#include "db/access/write/data_page.h"

namespace db::access::write {
namespace {

[[noreturn]] void BadMap(const std::string& what) { throw DamagedFileError("a page map: " + what); }

}  // namespace

Bytes NewInlineMapRow(std::uint32_t first, std::size_t bitmapBytes) {
  Bytes row(5 + bitmapBytes, 0);
  row[0] = kInlineMap;
  Put32(&row[1], first);
  return row;
}

UsageMap::UsageMap(PageIo& io, RowRef where, std::function<std::uint32_t()> newMapPage)
    : io_(io), where_(where), newMapPage_(std::move(newMapPage)) {
  load();
}

void UsageMap::load() {
  Bytes page = io_.readPage(where_.page);
  if (page[0] != kDataPage) BadMap("a map row is not on a data page");
  RowSlot slot = DataRowSlot(page, where_.row);
  if (!slot.live() || slot.end - slot.start < 6) BadMap("a map row is missing");
  rowStart_ = slot.start;
  row_.assign(page.begin() + static_cast<std::ptrdiff_t>(slot.start),
              page.begin() + static_cast<std::ptrdiff_t>(slot.end));
  if (row_[0] != kInlineMap && row_[0] != kReferenceMap) BadMap("a map has an unknown kind");
}

void UsageMap::store() {
  Bytes page = io_.readPage(where_.page);
  std::copy(row_.begin(), row_.end(), page.begin() + static_cast<std::ptrdiff_t>(rowStart_));
  io_.writePage(where_.page, page);
}

void UsageMap::replaceRow(const Bytes& row) {
  if (row.size() != row_.size()) BadMap("a map row cannot change its size");
  row_ = row;
  store();
}

std::vector<std::uint32_t> UsageMap::pages() const {
  std::vector<std::uint32_t> out;
  if (isInline()) {
    std::uint32_t first = Get32(&row_[1]);
    for (std::size_t bit = 0; bit < inlineBits(); ++bit)
      if (row_[kInlineMapBitmapAt + bit / 8] >> (bit % 8) & 1)
        out.push_back(first + static_cast<std::uint32_t>(bit));
    return out;
  }
  for (std::size_t k = 0; 1 + 4 * k + 4 <= row_.size(); ++k) {
    std::uint32_t mapPage = Get32(&row_[1 + 4 * k]);
    if (mapPage == 0) continue;
    Bytes bits = io_.readPage(mapPage);
    if (bits[0] != kMapPage) BadMap("a map names a page that is not a map page");
    for (std::size_t bit = 0; bit < bitsPerMapPage(); ++bit)
      if (bits[kMapPageBitmapAt + bit / 8] >> (bit % 8) & 1)
        out.push_back(static_cast<std::uint32_t>(k * bitsPerMapPage() + bit));
  }
  return out;
}

std::vector<std::uint32_t> UsageMap::mapPages() const {
  std::vector<std::uint32_t> out;
  if (isInline()) return out;
  for (std::size_t k = 0; 1 + 4 * k + 4 <= row_.size(); ++k)
    if (std::uint32_t p = Get32(&row_[1 + 4 * k])) out.push_back(p);
  return out;
}

bool UsageMap::contains(std::uint32_t page) const {
  if (isInline()) {
    std::uint32_t first = Get32(&row_[1]);
    if (page < first || page - first >= inlineBits()) return false;
    std::size_t bit = page - first;
    return row_[kInlineMapBitmapAt + bit / 8] >> (bit % 8) & 1;
  }
  std::size_t k = page / bitsPerMapPage();
  if (1 + 4 * k + 4 > row_.size()) return false;
  std::uint32_t mapPage = Get32(&row_[1 + 4 * k]);
  if (mapPage == 0) return false;
  std::size_t bit = page % bitsPerMapPage();
  return io_.readPage(mapPage)[kMapPageBitmapAt + bit / 8] >> (bit % 8) & 1;
}

bool UsageMap::covers(std::uint32_t page) const {
  if (isInline()) {
    std::uint32_t first = Get32(&row_[1]);
    return page >= first && page - first < inlineBits();
  }
  std::size_t k = page / bitsPerMapPage();
  return 1 + 4 * k + 4 <= row_.size() && Get32(&row_[1 + 4 * k]) != 0;
}

void UsageMap::set(std::uint32_t page, bool on) {
  if (isInline()) {
    std::size_t bit = page - Get32(&row_[1]);
    if (on)
      row_[kInlineMapBitmapAt + bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
    else
      row_[kInlineMapBitmapAt + bit / 8] &= static_cast<unsigned char>(~(1u << (bit % 8)));
    store();
    return;
  }
  std::size_t k = page / bitsPerMapPage();
  std::uint32_t mapPage = Get32(&row_[1 + 4 * k]);
  Bytes bits = io_.readPage(mapPage);
  std::size_t bit = page % bitsPerMapPage();
  if (on)
    bits[kMapPageBitmapAt + bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
  else
    bits[kMapPageBitmapAt + bit / 8] &= static_cast<unsigned char>(~(1u << (bit % 8)));
  io_.writePage(mapPage, bits);
}

void UsageMap::rewriteInline(std::uint32_t first, const std::vector<std::uint32_t>& held) {
  std::fill(row_.begin() + 1, row_.end(), 0);
  row_[0] = kInlineMap;
  Put32(&row_[1], first);
  for (std::uint32_t p : held) {
    if (p < first || p - first >= inlineBits()) continue;
    std::size_t bit = p - first;
    row_[kInlineMapBitmapAt + bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
  }
  store();
}

std::uint32_t UsageMap::newMapPage() {
  if (!newMapPage_)
    throw Error(errc::kFailed,
                "A page map would have to grow where it cannot; nothing was written.");
  std::uint32_t mapPage = newMapPage_();
  Bytes bits(io_.pageSize(), 0);
  bits[0] = kMapPage;
  bits[1] = kPageMark;
  io_.writePage(mapPage, bits);
  return mapPage;
}

void UsageMap::rebaseOrPromote(std::uint32_t page) {
  if (isInline()) {
    std::vector<std::uint32_t> held = pages();
    held.push_back(page);
    auto [lo, hi] = std::minmax_element(held.begin(), held.end());
    if (*hi - *lo < inlineBits()) {
      // Still fits: move the window so that it starts at the lowest page held.
      rewriteInline(*lo, held);
      return;
    }
    // Too wide for the row: hold the pages on map pages instead. The map pages are taken
    // first, so that a refusal leaves the inline map as it was.
    std::map<std::size_t, std::uint32_t> byIndex;
    for (std::uint32_t p : held) {
      std::size_t k = p / bitsPerMapPage();
      if (1 + 4 * k + 4 > row_.size()) BadMap("the file is too large for a page map");
      if (!byIndex.count(k)) byIndex[k] = 0;
    }
    for (auto& [k, mapPage] : byIndex) mapPage = newMapPage();
    std::fill(row_.begin() + 1, row_.end(), 0);
    row_[0] = kReferenceMap;
    for (const auto& [k, mapPage] : byIndex) Put32(&row_[1 + 4 * k], mapPage);
    store();
    held.pop_back();  // `page` itself is set by the caller
    for (std::uint32_t p : held) set(p, true);
    return;
  }
  std::size_t k = page / bitsPerMapPage();
  if (1 + 4 * k + 4 > row_.size()) BadMap("the file is too large for a page map");
  std::uint32_t mapPage = newMapPage();
  Put32(&row_[1 + 4 * k], mapPage);
  store();
}

void UsageMap::add(std::uint32_t page) {
  if (!covers(page)) rebaseOrPromote(page);
  set(page, true);
}

void UsageMap::addWithRoom(std::uint32_t page) {
  if (!isInline() || covers(page)) return add(page);
  std::vector<std::uint32_t> held = pages();
  held.push_back(page);
  auto [lo, hi] = std::minmax_element(held.begin(), held.end());
  std::uint32_t first = *lo;
  // The window reaches up to the highest page; lower pages that no longer fit are dropped.
  if (*hi - first >= inlineBits()) first = static_cast<std::uint32_t>(*hi - (inlineBits() - 1));
  rewriteInline(first, held);
}

void UsageMap::remove(std::uint32_t page) {
  if (covers(page)) set(page, false);
}

std::optional<std::uint32_t> UsageMap::next(std::uint32_t from, std::uint32_t limit) const {
  auto scan = [&](const unsigned char* bits, std::uint64_t base,
                  std::size_t nbits) -> std::optional<std::uint32_t> {
    // Bits of pages base .. base + nbits - 1; look from `from` to `limit`.
    std::uint64_t lo = std::max<std::uint64_t>(from, base);
    std::uint64_t hi = std::min<std::uint64_t>(limit, base + nbits);
    for (std::uint64_t p = lo; p < hi;) {
      std::size_t bit = static_cast<std::size_t>(p - base);
      if (bit % 8 == 0 && bits[bit / 8] == 0) {
        p += 8;
        continue;
      }
      if (bits[bit / 8] >> (bit % 8) & 1) return static_cast<std::uint32_t>(p);
      ++p;
    }
    return std::nullopt;
  };
  if (isInline()) return scan(&row_[kInlineMapBitmapAt], Get32(&row_[1]), inlineBits());
  for (std::size_t k = from / bitsPerMapPage(); 1 + 4 * k + 4 <= row_.size(); ++k) {
    std::uint64_t base = static_cast<std::uint64_t>(k) * bitsPerMapPage();
    if (base >= limit) break;
    std::uint32_t mapPage = Get32(&row_[1 + 4 * k]);
    if (mapPage == 0) continue;
    Bytes bits = io_.readPage(mapPage);
    if (bits[0] != kMapPage) BadMap("a map names a page that is not a map page");
    if (auto p = scan(&bits[4], base, bitsPerMapPage())) return p;
  }
  return std::nullopt;
}

// ---- the file's page map -------------------------------------------------------------------

namespace {
constexpr RowRef kFilePageMap{1, 0};
}

bool PageAllocator::isFree(std::uint32_t page) const {
  UsageMap map(io_, kFilePageMap);
  return map.covers(page) ? map.contains(page) : page >= io_.pageCount();
}

std::uint32_t PageAllocator::appendMapPage(std::size_t index) {
  // A fresh map page of the file map: every page it covers is free (they all lie past the end
  // of the file), except itself.
  std::uint32_t p = io_.pageCount();
  std::size_t perPage = (io_.pageSize() - 4) * 8;
  Bytes bits(io_.pageSize(), 0);
  bits[0] = kMapPage;
  bits[1] = kPageMark;
  std::fill(bits.begin() + 4, bits.end(), 0xFF);
  if (p < index * perPage || p >= (index + 1) * perPage)
    BadMap("the file map is out of step with the file");
  std::size_t bit = p - index * perPage;
  bits[kMapPageBitmapAt + bit / 8] &= static_cast<unsigned char>(~(1u << (bit % 8)));
  io_.appendPage(bits);
  return p;
}

void PageAllocator::cover(UsageMap& map, std::uint32_t page) {
  std::size_t perPage = (io_.pageSize() - 4) * 8;
  // An inline map also needs room for the map pages it is about to add.
  std::size_t k = (map.isInline() ? page + 17 : page) / perPage;
  Bytes row = map.rowBytes();
  if (1 + 4 * k + 4 > row.size()) BadMap("the file is too large for its page map");
  if (map.isInline()) {
    // Map pages for every stretch up to `page`: the inline window's free pages carried over,
    // the rest of the file kept in use, the pages past its end free.
    std::uint32_t first = Get32(&row[1]);
    std::size_t inlineBits = (row.size() - 5) * 8;
    std::uint32_t count = io_.pageCount();
    Bytes newRow(row.size(), 0);
    newRow[0] = kReferenceMap;
    std::vector<std::pair<std::uint32_t, Bytes>> mapPages;
    for (std::size_t i = 0; i <= k; ++i) {
      Bytes bits(io_.pageSize(), 0);
      bits[0] = kMapPage;
      bits[1] = kPageMark;
      for (std::size_t bit = 0; bit < perPage; ++bit) {
        std::uint64_t p = i * perPage + bit;
        bool free = p >= count;
        if (p >= first && p - first < inlineBits)
          free = row[5 + (p - first) / 8] >> ((p - first) % 8) & 1;
        if (free) bits[kMapPageBitmapAt + bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
      }
      mapPages.emplace_back(0, std::move(bits));
    }
    // The map pages go at the end of the file and take themselves.
    for (std::size_t i = 0; i < mapPages.size(); ++i) {
      std::uint32_t p = io_.pageCount();
      std::size_t owner = p / perPage;
      if (owner >= mapPages.size()) BadMap("the file map is out of step with the file");
      Bytes& bits = mapPages[owner].second;
      bits[kMapPageBitmapAt + (p % perPage) / 8] &=
          static_cast<unsigned char>(~(1u << (p % perPage % 8)));
      mapPages[i].first = io_.appendPage(Bytes(io_.pageSize(), 0));
      Put32(&newRow[1 + 4 * i], mapPages[i].first);
    }
    for (const auto& [p, bits] : mapPages) io_.writePage(p, bits);
    map.replaceRow(newRow);
    return;
  }
  // A reference map reaching a stretch with no map page yet.
  for (std::size_t i = 0; i <= k; ++i) {
    if (Get32(&row[1 + 4 * i]) != 0) continue;
    Put32(&row[1 + 4 * i], appendMapPage(i));
  }
  map.replaceRow(row);
}

std::uint32_t PageAllocator::allocate(const Bytes& content) {
  UsageMap map(io_, kFilePageMap);
  std::uint32_t count = io_.pageCount();
  if (std::optional<std::uint32_t> p = map.next(std::max<std::uint32_t>(searchFrom_, 3), count)) {
    // Header, this map and the catalogue (pages 0 to 2) are never free.
    if (claims_)
      if (std::optional<std::string> user = claims_->user(*p))
        throw DamagedFileError("page " + std::to_string(*p) + ", " + *user +
                               ", is marked free in the file's page map");
    map.remove(*p);
    io_.writePage(*p, content);
    searchFrom_ = *p + 1;
    return *p;
  }
  searchFrom_ = std::max(searchFrom_, count);
  if (!map.covers(count)) {
    cover(map, count);
    count = io_.pageCount();
    if (!map.covers(count)) cover(map, count);
  }
  std::uint32_t p = io_.appendPage(content);
  map.remove(p);
  searchFrom_ = p + 1;
  return p;
}

void PageAllocator::release(std::uint32_t page) {
  if (page < 3 || page >= io_.pageCount()) return;
  if (claims_) claims_->release(page);
  io_.writePage(page, Bytes(io_.pageSize(), 0));
  UsageMap map(io_, kFilePageMap);
  // A page the map cannot hold stays out of use until the file is compacted.
  if (map.covers(page)) {
    map.add(page);
    searchFrom_ = std::min(searchFrom_, page);
  }
}

}  // namespace db::access::write
