#include "db/access/write/table_rows.h"

#include <QString>
#include <algorithm>
#include <map>
#include <set>

#include "db/base/error.h"
#include "db/access/write/index_key.h"
#include "db/access/write/page_claims.h"

namespace db::access::write {

std::uint32_t MappedIndexPages::allocatePage() {
  std::uint32_t page = pages_.allocate(Bytes(io_.pageSize(), 0));
  UsageMap(io_, map_, [this] { return pages_.allocate(Bytes(io_.pageSize(), 0)); }).add(page);
  return page;
}

void MappedIndexPages::releasePage(std::uint32_t page) {
  UsageMap(io_, map_).remove(page);
  pages_.release(page);
}

TableRows::TableRows(PageIo& io, PageAllocator& pages, std::uint32_t definitionPage)
    : io_(io), pages_(pages), def_(ReadTableDef(io, definitionPage)) {}

std::function<std::uint32_t()> TableRows::mapPageSource() {
  return [this] { return pages_.allocate(Bytes(io_.pageSize(), 0)); };
}

const TdefColumn& TableRows::columnByNumber(int number) const {
  for (const TdefColumn& c : def_.columns)
    if (c.number == number) return c;
  throw DamagedFileError("the table definition on page " + std::to_string(def_.page) +
                         ": an index names no column");
}

Bytes TableRows::rowBytes(RowRef where, const Bytes& page, RowRef* data) const {
  RowSlot slot = DataRowSlot(page, where.row);
  if (slot.live()) {
    if (data) *data = where;
    return Bytes(page.begin() + static_cast<std::ptrdiff_t>(slot.start),
                 page.begin() + static_cast<std::ptrdiff_t>(slot.end));
  }
  // A moved row: its data is a row of another page of the table, marked as moved data.
  RowRef to = MovedRowData(page, where.row);
  Bytes target = to.page < io_.pageCount() ? io_.readPage(to.page) : Bytes();
  if (target.empty() || target[0] != kDataPage || DataPageOwner(target) != def_.page ||
      to.row >= DataRowCount(target))
    throw DamagedFileError("a moved row of table page " + std::to_string(where.page) +
                           " points outside its table");
  CheckDataPage(target);
  RowSlot moved = DataRowSlot(target, to.row);
  if (!moved.movedData())
    throw DamagedFileError("a moved row of table page " + std::to_string(where.page) +
                           " points to a row that is not its data");
  if (data) *data = to;
  return Bytes(target.begin() + static_cast<std::ptrdiff_t>(moved.start),
               target.begin() + static_cast<std::ptrdiff_t>(moved.end));
}

void TableRows::scan(const std::function<bool(RowRef, const std::vector<RowValue>&)>& visit) const {
  std::vector<RowColumn> columns = def_.rowColumns();
  for (std::uint32_t p : UsageMap(const_cast<PageIo&>(io_), def_.ownedPages).pages()) {
    if (p >= io_.pageCount()) continue;
    Bytes page = io_.readPage(p);
    if (page[0] != kDataPage || DataPageOwner(page) != def_.page) continue;
    CheckDataPage(page);
    unsigned n = DataRowCount(page);
    for (unsigned r = 0; r < n; ++r) {
      RowSlot slot = DataRowSlot(page, r);
      // Deleted rows are gone; moved data is met through its moved row.
      if (!slot.live() && !slot.moved()) continue;
      Bytes row = rowBytes({p, r}, page, nullptr);
      std::vector<RowValue> values = DecodeRow(columns, row.data(), row.size(), def_.jet3);
      if (!visit({p, r}, values)) return;
    }
  }
}

std::vector<unsigned char> TableRows::indexKey(std::size_t index,
                                               const std::vector<RowValue>& values) const {
  IndexKeyBuilder key;
  for (const TdefRealIndex::Part& part : def_.realIndexes.at(index).parts) {
    const TdefColumn& column = columnByNumber(part.column);
    std::size_t at = &column - def_.columns.data();
    const RowValue& v = values.at(at);
    if (!v) {
      key.addNull(part.ascending);
      continue;
    }
    switch (column.type) {
      case coltype::kLong:
        key.addLong(static_cast<std::int32_t>(Get32(v->data())), part.ascending);
        break;
      case coltype::kInteger:
        key.addInteger(static_cast<std::int16_t>(Get16(v->data())), part.ascending);
        break;
      case coltype::kText: {
        std::optional<TextCollation> collation =
            CollationFromSortOrder(column.sortOrder, column.sortVersion, def_.jet3);
        if (!collation)
          throw Error(errc::kNotSupported,
                      "Writing to a table indexed in this sort order is not supported.");
        key.addText(DecodeColumnText(column, *v), *collation, part.ascending);
        break;
      }
      default:
        throw Error(errc::kNotSupported,
                    "Writing to a table with an index on a column of this type is not supported.");
    }
  }
  return key.take();
}

void TableRows::checkIndexes() {
  if (indexesChecked_ || def_.realIndexes.empty()) return;
  // The key each index must hold for each live row. Jet 3 keys are known for a few characters
  // only: the entry of a row whose key is not known is taken as it is (this program never
  // writes or removes such a key).
  std::vector<std::map<std::uint32_t, std::optional<std::vector<unsigned char>>>> keys(
      def_.realIndexes.size());
  scan([&](RowRef where, const std::vector<RowValue>& values) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      std::optional<std::vector<unsigned char>>& key = keys[i][where.packed()];
      try {
        key = indexKey(i, values);
      } catch (const Error& e) {
        if (!def_.jet3 || e.number() != errc::kNotSupported) throw;
      }
    }
    return true;
  });
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::set<std::uint32_t> named;
    for (const IndexEntry& e : JetIndexTree(io_, def_.realIndexes[i].firstPage).entries()) {
      const std::uint32_t row = RowRef{e.dataPage, e.row}.packed();
      auto it = keys[i].find(row);
      if (it == keys[i].end() || (it->second && *it->second != e.key) || !named.insert(row).second)
        throw DamagedFileError("an index of the table defined on page " +
                               std::to_string(def_.page) + " does not agree with row " +
                               std::to_string(e.row) + " of page " + std::to_string(e.dataPage));
    }
  }
  indexesChecked_ = true;
}

RowRef TableRows::insert(const std::vector<RowValue>& values) {
  if (rowColumns_.empty()) rowColumns_ = def_.rowColumns();
  Bytes row = EncodeRow(rowColumns_, values, def_.maxColumns, def_.varSlots(), def_.jet3);
  if (row.size() > MaxRowSize(io_.pageSize()))
    throw Error(errc::kFailed, "The record is too large.");
  // Keys first: a value the index cannot hold stops the insert before anything is written.
  std::vector<std::vector<unsigned char>> keys;
  for (std::size_t i = 0; i < def_.realIndexes.size(); ++i) keys.push_back(indexKey(i, values));
  checkIndexes();

  std::optional<RowRef> where;
  auto tryPage = [&](std::uint32_t p) {
    Bytes page = io_.readPage(p);
    if (page[0] != kDataPage || DataPageOwner(page) != def_.page) return false;
    if (std::optional<unsigned> r = InsertDataRow(page, row)) {
      io_.writePage(p, page);
      where = RowRef{p, *r};
      lastPage_ = p;
      return true;
    }
    return false;
  };
  if (lastPage_ == 0) {
    std::vector<std::uint32_t> held = UsageMap(io_, def_.ownedPages).pages();
    if (!held.empty()) lastPage_ = held.back();
  }
  bool placed = lastPage_ != 0 && tryPage(lastPage_);
  if (!placed) {
    // Pages with room are in the free-space map; a page found full leaves it.
    UsageMap withRoom(io_, def_.freeSpacePages, mapPageSource());
    std::uint32_t count = io_.pageCount();
    for (std::optional<std::uint32_t> p = withRoom.next(0, count); p;
         p = withRoom.next(*p + 1, count)) {
      if (tryPage(*p)) {
        placed = true;
        break;
      }
      withRoom.remove(*p);
    }
  }
  if (!placed) {
    Bytes page = NewDataPage(io_.pageSize(), def_.page);
    std::uint32_t p = pages_.allocate(page);
    UsageMap(io_, def_.ownedPages, mapPageSource()).add(p);
    UsageMap(io_, def_.freeSpacePages, mapPageSource()).addWithRoom(p);
    if (!tryPage(p)) throw Error(errc::kFailed, "The record is too large.");
  }
  for (std::size_t i = 0; i < def_.realIndexes.size(); ++i) {
    MappedIndexPages indexPages(io_, pages_, def_.realIndexes[i].pageMap);
    JetIndexTree tree(io_, def_.realIndexes[i].firstPage, &indexPages);
    tree.insert({keys[i], where->page, static_cast<std::uint8_t>(where->row)});
  }
  ++def_.rowCount;
  countChanged_ = true;
  return *where;
}

void TableRows::remove(RowRef where, const std::vector<RowValue>& values) {
  checkIndexes();
  for (std::size_t i = 0; i < def_.realIndexes.size(); ++i) {
    MappedIndexPages indexPages(io_, pages_, def_.realIndexes[i].pageMap);
    JetIndexTree tree(io_, def_.realIndexes[i].firstPage, &indexPages);
    tree.remove({indexKey(i, values), where.page, static_cast<std::uint8_t>(where.row)});
  }
  Bytes page = io_.readPage(where.page);
  RowRef data = where;
  rowBytes(where, page, &data);
  DeleteDataRow(page, where.row);
  io_.writePage(where.page, page);
  UsageMap withRoom(io_, def_.freeSpacePages, mapPageSource());
  withRoom.addWithRoom(where.page);
  if (!(data == where)) {
    // A moved row goes with its data.
    Bytes target = io_.readPage(data.page);
    DeleteDataRow(target, data.row);
    io_.writePage(data.page, target);
    withRoom.addWithRoom(data.page);
  }
  if (def_.rowCount > 0) --def_.rowCount;
  countChanged_ = true;
}

void TableRows::flush() {
  if (!countChanged_) return;
  WriteRowCount(io_, def_.page, def_.rowCount);
  countChanged_ = false;
}

}  // namespace db::access::write
