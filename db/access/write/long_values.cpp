#include "db/access/write/long_values.h"

#include <algorithm>
#include <set>

#include "db/access/write/data_page.h"
#include "db/base/error.h"

namespace db::access::write {

std::size_t MaxLongValueRow(std::size_t pageSize) {
  return MaxRowSize(pageSize) - kLongValuePageSlack;
}

void RefuseTooLong() {
  throw Error(errc::kFailed,
              "The field is too small to accept the amount of data you attempted to add. Try "
              "inserting or pasting less data.");
}

void CheckLongValueLength(std::size_t bytes) {
  if (bytes > kMaxLongValueLength) RefuseTooLong();
}

LongValueWriter::Maps LongValueWriter::mapsOf(const TableDef& def, const TdefColumn& column) const {
  for (const TdefLongValueMaps& m : def.longValueMaps)
    if (m.column == column.number && m.owned.page != 0) return {m.owned, m.freeSpace};
  return {def.ownedPages, RowRef{}};
}

void LongValueWriter::record(RowRef map, std::uint32_t page) {
  UsageMap(io_, map, [this] { return pages_.allocate(Bytes(io_.pageSize(), 0)); }).add(page);
}

RowRef LongValueWriter::storeRow(const TableDef& def, const TdefColumn& column, const Maps& maps,
                                 const Bytes& row) {
  const auto key = std::make_pair(def.page, column.number);
  if (auto it = shared_.find(key); it != shared_.end()) {
    const std::uint32_t p = it->second;
    Bytes page = io_.readPage(p);
    if (page[0] == kDataPage && DataPageOwner(page) == kLongValueOwner &&
        UsageMap(io_, maps.owned).contains(p)) {
      if (std::optional<unsigned> r = InsertDataRow(page, row)) {
        io_.writePage(p, page);
        return {p, *r};
      }
      // Full: the next single row starts a page of its own.
      if (maps.freeSpace.page != 0) UsageMap(io_, maps.freeSpace).remove(p);
    }
    shared_.erase(it);
  }
  Bytes page = NewDataPage(io_.pageSize(), kLongValueOwner);
  std::optional<unsigned> r = InsertDataRow(page, row);
  if (!r) throw Error(errc::kFailed, "A long value does not fit its page.");
  const std::uint32_t p = pages_.allocate(page);
  record(maps.owned, p);
  if (maps.freeSpace.page != 0)
    UsageMap(io_, maps.freeSpace, [this] {
      return pages_.allocate(Bytes(io_.pageSize(), 0));
    }).addWithRoom(p);
  shared_[key] = p;
  return {p, *r};
}

Bytes LongValueWriter::store(const TableDef& def, const TdefColumn& column, const Bytes& data) {
  CheckLongValueLength(data.size());
  const auto length = static_cast<std::uint32_t>(data.size());
  Bytes field(kLongValueHeader, 0);
  if (data.size() <= kMaxInlineLongValue) {
    Put32(field.data(), length | kInlineLongValue);
    field.insert(field.end(), data.begin(), data.end());
    return field;
  }
  const Maps maps = mapsOf(def, column);
  const std::size_t rowLimit = MaxLongValueRow(io_.pageSize());
  if (data.size() <= rowLimit) {
    RowRef at = storeRow(def, column, maps, data);
    Put32(field.data(), length | kSingleRowLongValue);
    Put32(field.data() + kLongValuePointerAt, at.packed());
    return field;
  }
  // A chain, written from its last piece so that each row can name the next.
  const std::size_t piece = rowLimit - 4;
  const std::size_t pieces = (data.size() + piece - 1) / piece;
  RowRef next;
  for (std::size_t k = pieces; k-- > 0;) {
    const std::size_t from = k * piece, size = std::min(piece, data.size() - from);
    Bytes row(4);
    Put32(row.data() + kLongValueNextAt, next.packed());
    row.insert(row.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
               data.begin() + static_cast<std::ptrdiff_t>(from + size));
    Bytes page = NewDataPage(io_.pageSize(), kLongValueOwner);
    std::optional<unsigned> r = InsertDataRow(page, row);
    if (!r) throw Error(errc::kFailed, "A long value does not fit its page.");
    const std::uint32_t p = pages_.allocate(page);
    record(maps.owned, p);
    next = {p, *r};
  }
  Put32(field.data(), length);
  Put32(field.data() + kLongValuePointerAt, next.packed());
  return field;
}

void LongValueWriter::forget(std::uint32_t definitionPage) {
  std::erase_if(shared_, [&](const auto& entry) { return entry.first.first == definitionPage; });
}

std::vector<RowRef> LongValueRows(const PageIo& io, const unsigned char* field, std::size_t size) {
  std::vector<RowRef> rows;
  if (size < kLongValueHeader) return rows;
  const std::uint32_t word = Get32(field);
  if (word & kInlineLongValue) return rows;
  const bool single = (word & kSingleRowLongValue) != 0;
  std::set<std::uint32_t> seen;
  for (RowRef at = RowRef::Unpack(Get32(field + kLongValuePointerAt));
       at.page != 0 && seen.insert(at.packed()).second;) {
    if (at.page >= io.pageCount()) break;
    Bytes page = io.readPage(at.page);
    if (page[0] != kDataPage || DataPageOwner(page) != kLongValueOwner ||
        at.row >= DataRowCount(page))
      break;
    rows.push_back(at);
    if (single) break;
    RowSlot slot;
    try {
      slot = DataRowSlot(page, at.row);
    } catch (const Error&) {
      break;
    }
    if (slot.size() < 4) break;
    at = RowRef::Unpack(Get32(&page[slot.start + kLongValueNextAt]));
  }
  return rows;
}

}  // namespace db::access::write
