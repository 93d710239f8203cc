#include "db/jet_usage_map.h"

#include <algorithm>

#include "db/error.h"
#include "db/jet_rows.h"

namespace db::jetw {
namespace {

constexpr unsigned char kInline = 0;
constexpr unsigned char kReference = 1;
constexpr unsigned char kMapPageType = 0x05;

[[noreturn]] void BadMap(const std::string& what) {
  throw Error(errc::kBadFormat, "Damaged page map in the database file (" + what + ").");
}

}  // namespace

Bytes NewInlineMapRow(std::uint32_t first, std::size_t bitmapBytes) {
  Bytes row(5 + bitmapBytes, 0);
  row[0] = kInline;
  Put32(&row[1], first);
  return row;
}

UsageMap::UsageMap(PageIo& io, RowRef where, std::function<std::uint32_t()> newMapPage)
    : io_(io), where_(where), newMapPage_(std::move(newMapPage)) {
  load();
}

void UsageMap::load() {
  Bytes page = io_.readPage(where_.page);
  if (page[0] != kDataPageType) BadMap("a map row is not on a data page");
  RowSlot slot = DataRowSlot(page, where_.row);
  if (slot.deleted || slot.end - slot.start < 6) BadMap("a map row is missing");
  rowStart_ = slot.start;
  row_.assign(page.begin() + static_cast<std::ptrdiff_t>(slot.start),
              page.begin() + static_cast<std::ptrdiff_t>(slot.end));
  if (row_[0] != kInline && row_[0] != kReference) BadMap("a map has an unknown kind");
}

void UsageMap::store() {
  Bytes page = io_.readPage(where_.page);
  std::copy(row_.begin(), row_.end(), page.begin() + static_cast<std::ptrdiff_t>(rowStart_));
  io_.writePage(where_.page, page);
}

std::vector<std::uint32_t> UsageMap::pages() const {
  std::vector<std::uint32_t> out;
  if (isInline()) {
    std::uint32_t first = Get32(&row_[1]);
    for (std::size_t bit = 0; bit < inlineBits(); ++bit)
      if (row_[5 + bit / 8] >> (bit % 8) & 1) out.push_back(first + static_cast<std::uint32_t>(bit));
    return out;
  }
  for (std::size_t k = 0; 1 + 4 * k + 4 <= row_.size(); ++k) {
    std::uint32_t mapPage = Get32(&row_[1 + 4 * k]);
    if (mapPage == 0) continue;
    Bytes bits = io_.readPage(mapPage);
    if (bits[0] != kMapPageType) BadMap("a map names a page that is not a map page");
    for (std::size_t bit = 0; bit < bitsPerMapPage(); ++bit)
      if (bits[4 + bit / 8] >> (bit % 8) & 1)
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
    return row_[5 + bit / 8] >> (bit % 8) & 1;
  }
  std::size_t k = page / bitsPerMapPage();
  if (1 + 4 * k + 4 > row_.size()) return false;
  std::uint32_t mapPage = Get32(&row_[1 + 4 * k]);
  if (mapPage == 0) return false;
  std::size_t bit = page % bitsPerMapPage();
  return io_.readPage(mapPage)[4 + bit / 8] >> (bit % 8) & 1;
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
      row_[5 + bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
    else
      row_[5 + bit / 8] &= static_cast<unsigned char>(~(1u << (bit % 8)));
    store();
    return;
  }
  std::size_t k = page / bitsPerMapPage();
  std::uint32_t mapPage = Get32(&row_[1 + 4 * k]);
  Bytes bits = io_.readPage(mapPage);
  std::size_t bit = page % bitsPerMapPage();
  if (on)
    bits[4 + bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
  else
    bits[4 + bit / 8] &= static_cast<unsigned char>(~(1u << (bit % 8)));
  io_.writePage(mapPage, bits);
}

void UsageMap::rebaseOrPromote(std::uint32_t page) {
  if (isInline()) {
    std::vector<std::uint32_t> held = pages();
    held.push_back(page);
    auto [lo, hi] = std::minmax_element(held.begin(), held.end());
    if (*hi - *lo < inlineBits()) {
      // Still fits: move the window so that it starts at the lowest page held.
      std::uint32_t first = *lo;
      std::fill(row_.begin() + 5, row_.end(), 0);
      Put32(&row_[1], first);
      for (std::uint32_t p : held) {
        std::size_t bit = p - first;
        row_[5 + bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
      }
      store();
      return;
    }
    // Too wide for the row. Turning it into a reference map is not done yet: refuse rather
    // than lose pages.
    throw Error(errc::kFailed, "The table has grown past what its page map can hold; nothing "
                               "was written.");
    held.pop_back();
    std::fill(row_.begin() + 1, row_.end(), 0);
    row_[0] = kReference;
    store();
    for (std::uint32_t p : held) add(p);
  }
  std::size_t k = page / bitsPerMapPage();
  if (1 + 4 * k + 4 > row_.size()) BadMap("the file is too large for a page map");
  if (!newMapPage_) throw Error(errc::kFailed, "A page map cannot grow here.");
  std::uint32_t mapPage = newMapPage_();
  Bytes bits(io_.pageSize(), 0);
  bits[0] = kMapPageType;
  bits[1] = 0x01;
  io_.writePage(mapPage, bits);
  Put32(&row_[1 + 4 * k], mapPage);
  store();
}

void UsageMap::add(std::uint32_t page) {
  if (!covers(page)) rebaseOrPromote(page);
  if (isInline() && contains(page)) return;
  set(page, true);
}

void UsageMap::remove(std::uint32_t page) {
  if (covers(page)) set(page, false);
}

// ---- the file's page map -------------------------------------------------------------------

namespace {
constexpr RowRef kFilePageMap{1, 0};
}

bool PageAllocator::isFree(std::uint32_t page) const {
  UsageMap map(io_, kFilePageMap);
  return map.covers(page) ? map.contains(page) : page >= io_.pageCount();
}

std::uint32_t PageAllocator::allocate(const Bytes& content) {
  UsageMap map(io_, kFilePageMap);
  std::uint32_t count = io_.pageCount();
  for (std::uint32_t p : map.pages()) {
    if (p >= count) break;
    if (p < 3) continue;  // header, this map and the catalogue are never free
    map.remove(p);
    io_.writePage(p, content);
    return p;
  }
  // A page past the map's window would read as free to every other program: refuse it.
  if (!map.covers(count))
    throw Error(errc::kFailed, "The database file has grown past what its page map can hold; "
                               "nothing was written.");
  std::uint32_t p = io_.appendPage(content);
  map.remove(p);
  return p;
}

void PageAllocator::release(std::uint32_t page) {
  if (page < 3 || page >= io_.pageCount()) return;
  io_.writePage(page, Bytes(io_.pageSize(), 0));
  UsageMap map(io_, kFilePageMap);
  // A page the map cannot hold stays out of use until the file is compacted.
  if (map.covers(page)) map.add(page);
}

}  // namespace db::jetw
