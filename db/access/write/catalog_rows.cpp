#include "db/access/write/catalog_rows.h"

#include <QDateTime>
#include <QString>
#include <cstring>
#include <set>

#include "db/access/format/catalog.h"
#include "db/base/error.h"
#include "db/access/write/page_claims.h"
#include "db/access/write/index_key.h"
#include "db/base/names.h"

namespace db::access::write {
namespace {

constexpr std::uint32_t kFullTableRights = 1048319;
constexpr std::size_t kMaxTableName = 64;

std::int32_t AsLong(const RowValue& v) {
  return v && v->size() >= 4 ? static_cast<std::int32_t>(Get32(v->data())) : 0;
}

std::uint32_t FindDefinitionPage(const TableRows& objects, int idColumn, int nameColumn,
                                 int typeColumn, const std::u16string& name) {
  std::uint32_t page = 0;
  const TdefColumn& names = objects.def().columns.at(nameColumn);
  objects.scan([&](RowRef, const std::vector<RowValue>& v) {
    if (v[nameColumn] && DecodeColumnText(names, *v[nameColumn]) == name && v[typeColumn] &&
        (Get16(v[typeColumn]->data()) & 0x7F) == object_type::kLocalTable) {
      page = static_cast<std::uint32_t>(AsLong(v[idColumn])) & 0xFFFFFF;
      return false;
    }
    return true;
  });
  if (page == 0)
    throw DamagedFileError("the catalogue lists no " +
                           QString::fromStdU16String(name).toStdString());
  return page;
}

}  // namespace

double OleNow() {
  // Local wall-clock time, as Access stores it.
  QDateTime now = QDateTime::currentDateTime();
  qint64 ms = QDateTime(now.date(), now.time(), Qt::UTC).toMSecsSinceEpoch() -
              QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
  return static_cast<double>(ms) / 86400000.0;
}

bool ValidTableName(const std::u16string& name, std::string* why) {
  auto fail = [&](const char* text) {
    if (why) *why = text;
    return false;
  };
  if (name.empty()) return fail("a table name cannot be empty");
  if (name.size() > kMaxTableName) return fail("a table name has at most 64 characters");
  if (name[0] == u' ') return fail("a table name cannot begin with a space");
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) return fail("a table name cannot hold control characters");
    if (c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']')
      return fail("a table name cannot hold . ! ` [ or ]");
  }
  return true;
}

CatalogWriter::CatalogWriter(PageIo& io, PageAllocator& pages)
    : io_(io),
      pages_(pages),
      objects_(io, pages, kCatalogPage),
      aces_(io, pages,
            FindDefinitionPage(objects_, column(objects_, u"Id"), column(objects_, u"Name"),
                               column(objects_, u"Type"), u"MSysACEs")) {
  int id = column(objects_, u"Id"), parent = column(objects_, u"ParentId"),
      name = column(objects_, u"Name"), type = column(objects_, u"Type"),
      owner = column(objects_, u"Owner");
  const TdefColumn& names = objects_.def().columns.at(name);
  objects_.scan([&](RowRef, const std::vector<RowValue>& v) {
    if (!v[name]) return true;
    std::u16string n = DecodeColumnText(names, *v[name]);
    int t = v[type] ? Get16(v[type]->data()) : 0;
    if (n == u"Tables" && AsLong(v[parent]) == kRootContainerId && t == object_type::kContainer)
      tablesId_ = AsLong(v[id]);
    if (n == u"MSysDb" && v[owner]) owner_ = *v[owner];
    return true;
  });
  if (tablesId_ == 0) throw DamagedFileError("the catalogue has no Tables container");
}

int CatalogWriter::column(const TableRows& table, const char16_t* name) const {
  int at = table.def().find(name);
  if (at < 0) throw DamagedFileError("the catalogue lacks a system column");
  return at;
}

std::vector<CatalogEntry> CatalogWriter::entries() const {
  int id = column(objects_, u"Id"), parent = column(objects_, u"ParentId"),
      name = column(objects_, u"Name"), type = column(objects_, u"Type"),
      flags = column(objects_, u"Flags");
  std::vector<CatalogEntry> out;
  const TdefColumn& names = objects_.def().columns.at(name);
  objects_.scan([&](RowRef where, const std::vector<RowValue>& v) {
    CatalogEntry e;
    e.where = where;
    e.values = v;
    e.id = AsLong(v[id]);
    e.parentId = AsLong(v[parent]);
    if (v[name]) e.name = DecodeColumnText(names, *v[name]);
    e.type = v[type] ? Get16(v[type]->data()) : 0;
    e.flags = static_cast<std::uint32_t>(AsLong(v[flags]));
    out.push_back(std::move(e));
    return true;
  });
  return out;
}

std::optional<CatalogEntry> CatalogWriter::findInTables(const std::u16string& name) const {
  // The catalogue's ParentId + Name index is unique, and a name's key ignores what the
  // collation ignores (letter case, ignorable characters, trailing blanks...): a name whose key
  // equals that of a table's name is that table's name.
  const TdefColumn& nameColumn = objects_.def().columns.at(column(objects_, u"Name"));
  std::optional<TextCollation> collation =
      CollationFromSortOrder(nameColumn.sortOrder, nameColumn.sortVersion, objects_.def().jet3);
  std::vector<CatalogEntry> all = entries();
  for (CatalogEntry& e : all)
    if (e.parentId == tablesId_ && e.name == name) return std::move(e);
  for (CatalogEntry& e : all)
    if (e.parentId == tablesId_ &&
        (SameName(e.name, name) || (collation && SameIndexText(e.name, name, *collation))))
      return std::move(e);
  return std::nullopt;
}

bool CatalogWriter::inRelationship(const std::u16string& name) const {
  std::optional<CatalogEntry> rel = findInTables(u"MSysRelationships");
  if (!rel) return false;
  TableRows relationships(io_, pages_, static_cast<std::uint32_t>(rel->id) & 0xFFFFFF);
  int from = column(relationships, u"szObject"), to = column(relationships, u"szReferencedObject");
  bool found = false;
  relationships.scan([&](RowRef, const std::vector<RowValue>& v) {
    for (int c : {from, to})
      if (v[c] && SameName(DecodeColumnText(relationships.def().columns[c], *v[c]), name))
        found = true;
    return !found;
  });
  return found;
}

std::vector<RowValue> CatalogWriter::newTableRow(std::uint32_t definitionPage,
                                                 const std::u16string& name, double now) const {
  const TableDef& def = objects_.def();
  std::vector<RowValue> row(def.columns.size());
  row[column(objects_, u"Id")] = LongBytes(static_cast<std::int32_t>(definitionPage));
  row[column(objects_, u"ParentId")] = LongBytes(tablesId_);
  const TdefColumn& nameColumn = def.columns[column(objects_, u"Name")];
  row[column(objects_, u"Name")] = EncodeColumnText(nameColumn, name);
  Bytes type(2);
  Put16(type.data(), object_type::kLocalTable);
  row[column(objects_, u"Type")] = type;
  row[column(objects_, u"DateCreate")] = DateBytes(now);
  row[column(objects_, u"DateUpdate")] = DateBytes(now);
  if (!owner_.empty()) row[column(objects_, u"Owner")] = owner_;
  row[column(objects_, u"Flags")] = LongBytes(0);
  return row;
}

void CatalogWriter::addTable(std::uint32_t definitionPage, const std::u16string& name, double now) {
  objects_.insert(newTableRow(definitionPage, name, now));

  int object = column(aces_, u"ObjectId"), acm = column(aces_, u"ACM"),
      inheritable = column(aces_, u"FInheritable");
  std::vector<std::vector<RowValue>> inherited;
  aces_.scan([&](RowRef, const std::vector<RowValue>& v) {
    if (AsLong(v[object]) == tablesId_ && v[inheritable] && (*v[inheritable])[0] &&
        static_cast<std::uint32_t>(AsLong(v[acm])) == kFullTableRights)
      inherited.push_back(v);
    return true;
  });
  for (std::vector<RowValue>& v : inherited) {
    v[object] = LongBytes(static_cast<std::int32_t>(definitionPage));
    v[inheritable] = Bytes{0};
    aces_.insert(v);
  }
}

void CatalogWriter::freeLongValue(const Bytes& header) {
  if (header.size() < kLongValueHeader) return;
  std::uint32_t word = Get32(header.data());
  if (word & kInlineLongValue) return;
  RowRef at = RowRef::Unpack(Get32(&header[4]));
  std::set<std::uint32_t> seen;
  for (bool chained = !(word & kSingleRowLongValue); at.page != 0;) {
    if (at.page >= io_.pageCount() || !seen.insert(at.packed()).second) return;
    Bytes page = io_.readPage(at.page);
    if (page[0] != kDataPage || at.row >= DataRowCount(page)) return;
    RowSlot slot = DataRowSlot(page, at.row);
    RowRef next{};
    if (chained && slot.end - slot.start >= 4) next = RowRef::Unpack(Get32(&page[slot.start]));
    DeleteDataRow(page, at.row);
    io_.writePage(at.page, page);
    if (!chained) return;
    at = next;
  }
}

void CatalogWriter::removeObject(const CatalogEntry& entry) {
  const TableDef& def = objects_.def();
  for (std::size_t c = 0; c < def.columns.size(); ++c) {
    int t = def.columns[c].type;
    if ((t == coltype::kMemo || t == coltype::kOle) && entry.values[c])
      freeLongValue(*entry.values[c]);
  }
  objects_.remove(entry.where, entry.values);

  int object = column(aces_, u"ObjectId");
  std::vector<std::pair<RowRef, std::vector<RowValue>>> rows;
  aces_.scan([&](RowRef where, const std::vector<RowValue>& v) {
    if (AsLong(v[object]) == entry.id) rows.emplace_back(where, v);
    return true;
  });
  for (auto& [where, v] : rows) aces_.remove(where, v);
}

void CatalogWriter::flush() {
  objects_.flush();
  aces_.flush();
}

}  // namespace db::access::write
