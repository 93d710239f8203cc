#include "db/access/write/page_claims.h"

#include <QString>
#include <map>
#include <set>

#include "db/access/format/catalog.h"
#include "db/access/write/data_page.h"
#include "db/access/write/table_rows.h"
#include "db/access/write/definition.h"
#include "db/access/write/definition_build.h"
#include "db/access/write/long_values.h"
#include "db/access/write/usage_map.h"

namespace db::access::write {
namespace {

std::string N(std::uint64_t n) { return std::to_string(n); }

[[noreturn]] void Damaged(const std::string& detail) { throw DamagedFileError(detail); }

// Runs `read`, naming `what` in the damage the reading helpers find.
template <typename F>
auto Guarded(const std::string& what, F&& read) -> decltype(read()) {
  try {
    return read();
  } catch (const DamagedFileError& e) {
    Damaged(what + ": " + e.detail());
  }
}

}  // namespace

DamagedFileError::DamagedFileError(const std::string& detail)
    : Error(
          BadFormatError("The file is damaged: " + detail + " (compact and repair it in Access).")),
      detail_(detail) {}

PageClaims::PageClaims(PageIo& io) : io_(io), pageCount_(io.pageCount()), byPage_(pageCount_) {
  if (pageCount_ <= kCatalogPage)
    Damaged("it holds " + N(pageCount_) + " pages, too few for a catalogue");
  tables_.emplace_back();  // the file itself
  std::vector<std::uint32_t> freePages = readFileMap();
  surveyCatalog();
  for (std::uint32_t p : freePages)
    if (p < pageCount_ && byPage_[p].use != Use::kNone)
      Damaged("page " + N(p) + ", " + describe(byPage_[p]) +
              ", is marked free in the file's page map");
}

std::optional<std::string> PageClaims::user(std::uint32_t page) const {
  if (page >= byPage_.size() || byPage_[page].use == Use::kNone) return std::nullopt;
  return describe(byPage_[page]);
}

void PageClaims::release(std::uint32_t page) {
  if (page < byPage_.size()) byPage_[page] = Claim{};
}

std::string PageClaims::tableName(std::uint32_t table) const {
  return "table '" + tables_[table] + "'";
}

std::string PageClaims::describe(const Claim& c) const {
  switch (c.use) {
    case Use::kHeader:
      return "the file header";
    case Use::kFileMap:
      return "a map page of the file's page map";
    case Use::kDefinition:
      return "a definition page of " + tableName(c.table);
    case Use::kMapRows:
      return c.table == 0 ? "the page of the file's page map"
                          : "a page holding the maps of " + tableName(c.table);
    case Use::kMapPage:
      return "a map page of " + tableName(c.table);
    case Use::kRows:
      return "a data page of " + tableName(c.table);
    case Use::kIndex:
      return "an index page of " + tableName(c.table);
    case Use::kLongValues:
      return "a long-value page of " + tableName(c.table);
    case Use::kNone:
      break;
  }
  return "nothing";
}

void PageClaims::claim(std::uint32_t page, Use use, std::uint32_t table) {
  Claim& held = byPage_.at(page);
  Claim wanted{use, table};
  if (held.use == Use::kNone) {
    held = wanted;
    return;
  }
  // The map rows of several tables share pages; a table's own maps may list a page twice.
  if (held.use == Use::kMapRows && use == Use::kMapRows) return;
  auto structural = [](Use u) {
    return u == Use::kDefinition || u == Use::kMapRows || u == Use::kMapPage || u == Use::kHeader ||
           u == Use::kFileMap;
  };
  if (held.table == table && !structural(held.use) && !structural(use)) return;
  Damaged("page " + N(page) + " is used twice, as " + describe(held) + " and as " +
          describe(wanted));
}

std::vector<std::uint32_t> PageClaims::readFileMap() {
  claim(0, Use::kHeader, 0);
  // Page 1 is a data page: the file's map is its row 0, and tables may keep maps there too.
  claim(kFileMapPage, Use::kMapRows, 0);
  const std::string what = "the file's page map";
  Bytes page = io_.readPage(kFileMapPage);
  if (page[0] != kDataPage) Damaged(what + " (page 1) is not on a data page");
  UsageMap map = Guarded(what, [&] { return UsageMap(io_, {kFileMapPage, 0}); });
  for (std::uint32_t p : map.mapPages()) {
    if (p >= pageCount_ || io_.readPage(p)[0] != kMapPage)
      Damaged(what + " names page " + N(p) + " as one of its map pages, which it is not");
    claim(p, Use::kFileMap, 0);
  }
  std::vector<std::uint32_t> freePages = Guarded(what, [&] { return map.pages(); });
  for (std::uint32_t p : {0u, kFileMapPage, kCatalogPage})
    if (map.contains(p)) Damaged(what + " marks page " + N(p) + " free");
  return freePages;
}

void PageClaims::surveyCatalog() {
  tables_.emplace_back(kCatalogName);
  surveyTable(kCatalogPage, static_cast<std::uint32_t>(tables_.size() - 1));

  struct Row {
    std::uint32_t page;
    std::string name;
  };
  std::vector<Row> rows;
  Guarded("the catalogue (MSysObjects)", [&] {
    PageAllocator none(io_);  // the rows are only read
    TableRows objects(io_, none, kCatalogPage);
    int id = objects.def().find(u"Id"), name = objects.def().find(u"Name"),
        type = objects.def().find(u"Type");
    if (id < 0 || name < 0 || type < 0)
      Damaged("the catalogue (MSysObjects) lacks one of the columns Id, Name and Type");
    objects.scan([&](RowRef, const std::vector<RowValue>& v) {
      if (!v[id] || v[id]->size() < 4 || !v[type] || v[type]->size() < 2) return true;
      if ((Get16(v[type]->data()) & 0x7F) != object_type::kLocalTable) return true;
      std::u16string n =
          v[name] ? DecodeColumnText(objects.def().columns[name], *v[name]) : std::u16string();
      rows.push_back({Get32(v[id]->data()) & 0xFFFFFF, QString::fromStdU16String(n).toStdString()});
      return true;
    });
    return 0;
  });

  std::map<std::uint32_t, std::string> byDefinition{{kCatalogPage, kCatalogName}};
  for (const Row& row : rows) {
    if (row.page == kCatalogPage) continue;  // MSysObjects' own row
    auto [it, added] = byDefinition.emplace(row.page, row.name);
    if (!added)
      Damaged("the catalogue names page " + N(row.page) + " as the definition of both '" +
              it->second + "' and '" + row.name + "'");
    tables_.push_back(row.name);
    surveyTable(row.page, static_cast<std::uint32_t>(tables_.size() - 1));
  }
}

void PageClaims::surveyTable(std::uint32_t first, std::uint32_t table) {
  const std::string what = tableName(table);
  std::set<std::uint32_t> chain;
  for (std::uint32_t p = first; p != 0;) {
    if (p >= pageCount_)
      Damaged(what + ": its definition " + (p == first ? "is on" : "continues on") + " page " +
              N(p) + ", past the end of the file");
    if (!chain.insert(p).second) Damaged(what + ": its definition pages form a loop");
    Bytes page = io_.readPage(p);
    if (page[0] != kDefinitionPage)
      Damaged(what + ": its definition " + (p == first ? "is on" : "continues on") + " page " +
              N(p) + ", which is not a definition page");
    claim(p, Use::kDefinition, table);
    p = Get32(&page[kDefNextPageAt]);
  }
  TableDef def = Guarded(what, [&] { return ReadTableDef(io_, first); });
  surveyMap(def.ownedPages.packed(), table, Use::kRows, "the page map of " + what);
  surveyMap(def.freeSpacePages.packed(), table, Use::kRows, "the free-space map of " + what);
  for (std::size_t i = 0; i < def.realIndexes.size(); ++i) {
    const TdefRealIndex& index = def.realIndexes[i];
    std::string indexWhat = "index " + N(i) + " of " + what;
    surveyMap(index.pageMap.packed(), table, Use::kIndex, "the page map of " + indexWhat);
    if (index.firstPage == 0 || index.firstPage >= pageCount_)
      Damaged(indexWhat + " starts on page " + N(index.firstPage) + ", outside the file");
    claim(index.firstPage, Use::kIndex, table);
  }
  // A zero names no map: Jet 4 lists long-value columns without maps of their own that way.
  for (const TdefLongValueMaps& lv : def.longValueMaps) {
    std::string column = "column " + N(lv.column) + " of " + what;
    if (lv.owned.packed() != 0)
      surveyMap(lv.owned.packed(), table, Use::kLongValues, "the long-value map of " + column);
    if (lv.freeSpace.packed() != 0)
      surveyMap(lv.freeSpace.packed(), table, Use::kLongValues,
                "the long-value free-space map of " + column);
  }
  surveyLongValues(def, table);
}

void PageClaims::surveyLongValues(const TableDef& def, std::uint32_t table) {
  std::vector<std::size_t> longColumns;
  for (std::size_t i = 0; i < def.columns.size(); ++i)
    if (IsLongValueType(def.columns[i].type)) longColumns.push_back(i);
  if (longColumns.empty()) return;
  const std::string what = tableName(table);
  Guarded(what, [&] {
    PageAllocator none(io_);  // the rows are only read
    TableRows rows(io_, none, def.page);
    rows.scan([&](RowRef where, const std::vector<RowValue>& values) {
      for (std::size_t i : longColumns) {
        if (!values[i]) continue;
        for (RowRef r : LongValueRows(io_, values[i]->data(), values[i]->size()))
          claimNamed(r.page, table,
                     "a long value of row " + N(where.row) + " of page " + N(where.page));
      }
      return true;
    });
    return 0;
  });
}

void PageClaims::claimNamed(std::uint32_t page, std::uint32_t table, const std::string& by) {
  const Claim& held = byPage_.at(page);
  // The table's own maps may list it, as a long-value page or (Jet 4) among its data pages.
  if (held.use != Use::kNone &&
      !(held.table == table && (held.use == Use::kLongValues || held.use == Use::kRows)))
    Damaged("page " + N(page) + ", " + describe(held) + ", holds " + by + " of " +
            tableName(table));
  claim(page, Use::kLongValues, table);
}

void PageClaims::surveyMap(std::uint32_t ref, std::uint32_t table, Use listed,
                           const std::string& what) {
  RowRef where = RowRef::Unpack(ref);
  if (where.page == 0 || where.page >= pageCount_)
    Damaged(what + " is on page " + N(where.page) + ", outside the file");
  Bytes page = io_.readPage(where.page);
  if (page[0] != kDataPage)
    Damaged(what + " is on page " + N(where.page) + ", which is not a data page");
  if (where.row >= DataRowCount(page))
    Damaged(what + " is row " + N(where.row) + " of page " + N(where.page) +
            ", which has no such row");
  RowSlot slot = Guarded(what, [&] { return DataRowSlot(page, where.row); });
  if (!slot.live() || slot.end - slot.start < 6 || (page[slot.start] != 0 && page[slot.start] != 1))
    Damaged(what + " is row " + N(where.row) + " of page " + N(where.page) +
            ", which is not a map");
  // A map row named twice by one table (long-value columns may share their maps) is one map.
  if (!surveyedMaps_.insert({ref, table}).second) return;
  claim(where.page, Use::kMapRows, table);
  UsageMap map(io_, where);
  for (std::uint32_t p : map.mapPages()) {
    if (p >= pageCount_ || io_.readPage(p)[0] != kMapPage)
      Damaged(what + " names page " + N(p) + " as one of its map pages, which it is not");
    claim(p, Use::kMapPage, table);
  }
  for (std::uint32_t p : map.pages()) {
    if (p >= pageCount_) Damaged(what + " lists page " + N(p) + ", past the end of the file");
    claim(p, listed, table);
  }
}

}  // namespace db::access::write
