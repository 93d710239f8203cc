#include "db/access/write/new_database.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cmath>
#include <cstring>

#include "db/base/error.h"
#include "db/access/format/catalog.h"
#include "db/access/format/header.h"
#include "db/access/write/index_tree.h"
#include "db/access/write/table_rows.h"
#include "db/access/write/typed_tables.h"
#include "db/access/write/definition_build.h"
#include "db/access/write/usage_map.h"

namespace db::access::write {
namespace {

constexpr std::uint16_t kWesternCodePage = 1252;

// Object ids of the catalogue.
constexpr std::int32_t kFirstInterfaceContainer = static_cast<std::int32_t>(0x80000000);

// Table rights as Access stores them in MSysACEs.
constexpr std::int32_t kAllRights = 1048575;
constexpr std::int32_t kAllTableRights = 1048319;
constexpr std::int32_t kUsersContainerRights = 983294;

// The users and groups of the default workgroup, as each format stores them.
struct Principals {
  Bytes engine;   // owner of the engine's own objects
  Bytes admin;    // the Admin user, owner of the database
  Bytes admins;   // the Admins group
  Bytes users;    // the Users group
  Bytes creator;  // the workgroup's creator
};

Bytes FromHex(const char* hex) {
  Bytes out;
  for (std::size_t i = 0; hex[i] && hex[i + 1]; i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
  return out;
}

Principals PrincipalsOf(NewDatabaseFormat format) {
  if (format == NewDatabaseFormat::kJet4)
    return {FromHex("A731"), FromHex("A633"), FromHex("A733"), FromHex("A736"),
            FromHex("A4F74667E17167EED7B10F8FFEEF76FFAAE3665105BDD29D4D4B3952D9FB9A07660C5BD2D87DDD"
                    "B31E659019")};
  return {FromHex("52A6"), FromHex("53A4"), FromHex("52A4"), FromHex("52A1"),
          FromHex("5160D0EBCFC8DADB329DA660DDE959A92A984076BF9CC4947917AA645F4C3E9EE1DD65F12E16D"
                  "CE27AE645A379D6")};
}

// Pages held in memory until the whole file is written at once.
class MemoryPageIo : public PageIo {
 public:
  std::size_t pageSize() const override { return kPageSize; }
  std::uint32_t pageCount() const override { return static_cast<std::uint32_t>(pages_.size()); }
  std::vector<unsigned char> readPage(std::uint32_t page) const override { return pages_.at(page); }
  void writePage(std::uint32_t page, const std::vector<unsigned char>& data) override {
    pages_.at(page) = data;
  }
  std::uint32_t appendPage(const std::vector<unsigned char>& data) override {
    pages_.push_back(data);
    return pageCount() - 1;
  }
  QByteArray bytes() const {
    QByteArray all;
    for (const Bytes& p : pages_) all.append(reinterpret_cast<const char*>(p.data()), p.size());
    return all;
  }

 private:
  std::vector<Bytes> pages_;
};

Bytes HeaderPage(NewDatabaseFormat format, double now) {
  Bytes page(kPageSize, 0);
  page[1] = kPageMark;
  const char* signature = format == NewDatabaseFormat::kJet4 ? kJetText : kAceText;
  std::memcpy(&page[kHeaderTextAt], signature, std::strlen(signature));
  page[kVersionAt] = format == NewDatabaseFormat::kJet4 ? 1 : 2;

  // The encrypted block, written plainly first.
  for (std::uint32_t i = 0; i < 6; ++i)
    Put32(&page[kEncryptedStart + 4 * i], i == 0 ? 0x100 : i == 1 ? 0x101 : i);
  Put16(&page[kCodePageAt], kWesternCodePage);
  Put32(&page[kPageKeyAt], 0);  // pages stored plainly
  // An empty password: nothing but the mask of the creation date.
  auto days = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::floor(now)));
  for (std::size_t i = 0; i < 40; ++i)
    page[kPasswordAt + i] = static_cast<unsigned char>(days >> (8 * (i % 4)));
  Put16(&page[kSortOrderAt], kGeneralSortOrder);
  std::uint64_t bits;
  std::memcpy(&bits, &now, sizeof bits);
  Put64(&page[kCreationDateAt], bits);
  Rc4Apply(kHeaderKey, sizeof kHeaderKey, &page[kEncryptedStart], kEncryptedSize);

  Put32(&page[0x98], 0x0654);
  std::memcpy(&page[0x9C], "4.0", 3);
  Put16(&page[0xE00], 0x0101);
  for (std::size_t at = 0xE02; at < kPageSize; at += 2) Put16(&page[at], 0x0100);
  return page;
}

// Page 1: the file's page map, every page from 2 on free, and a second, empty map row.
Bytes PageMapPage() {
  Bytes page = NewDataPage(kPageSize, 0);
  Bytes map = NewInlineMapRow(0, 64);
  for (std::size_t byte = kInlineMapBitmapAt; byte < map.size(); ++byte) map[byte] = 0xFF;
  map[kInlineMapBitmapAt] = 0xFC;  // pages 0 and 1 are in use
  InsertDataRow(page, map);
  InsertDataRow(page, Bytes(map.size(), 0));
  return page;
}

NewColumnDef Col(const char16_t* name, int type, int length = 0) {
  NewColumnDef c;
  c.name = name;
  c.type = type;
  c.length = type == coltype::kBinary ? 510 : type == coltype::kText ? 255 : length;
  c.compressed = false;
  return c;
}

struct SystemTable {
  const char16_t* name;
  std::int32_t id;  // its definition page
  NewTableDef def;
};

NewIndexDef Index(const char16_t* name, std::vector<int> columns, std::uint8_t flags,
                  bool primaryKey = false) {
  NewIndexDef index;
  index.name = name;
  for (int c : columns) index.parts.push_back({c, true});
  index.flags = flags;
  index.primaryKey = primaryKey;
  return index;
}

std::vector<SystemTable> SystemTables() {
  std::vector<SystemTable> tables(4);
  tables[0].name = u"MSysObjects";
  tables[0].def.columns = {Col(u"Id", coltype::kLong),
                           Col(u"ParentId", coltype::kLong),
                           Col(u"Name", coltype::kText),
                           Col(u"Type", coltype::kInteger),
                           Col(u"DateCreate", coltype::kDateTime),
                           Col(u"DateUpdate", coltype::kDateTime),
                           Col(u"Owner", coltype::kBinary),
                           Col(u"Flags", coltype::kLong),
                           Col(u"Database", coltype::kMemo),
                           Col(u"Connect", coltype::kMemo),
                           Col(u"ForeignName", coltype::kText),
                           Col(u"RmtInfoShort", coltype::kBinary),
                           Col(u"RmtInfoLong", coltype::kOle),
                           Col(u"Lv", coltype::kOle),
                           Col(u"LvProp", coltype::kOle),
                           Col(u"LvModule", coltype::kOle),
                           Col(u"LvExtra", coltype::kOle)};
  tables[0].def.indexes = {Index(u"Id", {0}, 0x81, true), Index(u"ParentIdName", {1, 2}, 0x81)};

  tables[1].name = u"MSysACEs";
  tables[1].def.columns = {Col(u"ObjectId", coltype::kLong), Col(u"SID", coltype::kBinary),
                           Col(u"ACM", coltype::kLong), Col(u"FInheritable", coltype::kBoolean)};
  tables[1].def.indexes = {Index(u"ObjectId", {0}, 0x88)};

  tables[2].name = u"MSysQueries";
  tables[2].def.columns = {Col(u"ObjectId", coltype::kLong), Col(u"Attribute", coltype::kByte),
                           Col(u"Order", coltype::kBinary),  Col(u"Name1", coltype::kText),
                           Col(u"Name2", coltype::kText),    Col(u"Expression", coltype::kMemo),
                           Col(u"Flag", coltype::kInteger),  Col(u"LvExtra", coltype::kLong)};
  tables[2].def.indexes = {Index(u"ObjectIdAttribute", {0, 1}, 0x81)};

  tables[3].name = u"MSysRelationships";
  tables[3].def.columns = {Col(u"szRelationship", coltype::kText),
                           Col(u"grbit", coltype::kLong),
                           Col(u"ccolumn", coltype::kLong),
                           Col(u"icolumn", coltype::kLong),
                           Col(u"szObject", coltype::kText),
                           Col(u"szColumn", coltype::kText),
                           Col(u"szReferencedObject", coltype::kText),
                           Col(u"szReferencedColumn", coltype::kText)};
  tables[3].def.indexes = {Index(u"szObject", {4}, 0x82), Index(u"szReferencedObject", {6}, 0x82),
                           Index(u"szRelationship", {0}, 0x82)};
  for (SystemTable& t : tables) {
    t.def.system = true;
    t.def.entriesByName = true;
  }
  return tables;
}

Bytes Long(std::int32_t v) { return LongBytes(v); }
Bytes Short(int v) { return ShortBytes(v); }
Bytes Date(double v) { return DateBytes(v); }

// Values of a row by column name, placed in the definition's column order.
class RowBuilder {
 public:
  explicit RowBuilder(const TableDef& def) : def_(def), values_(def.columns.size()) {}
  RowBuilder& set(const char16_t* column, Bytes value) {
    int at = def_.find(column);
    if (at < 0) throw Error(errc::kFailed, "A system table lacks one of its columns.");
    values_[static_cast<std::size_t>(at)] = std::move(value);
    return *this;
  }
  const std::vector<RowValue>& values() const { return values_; }

 private:
  const TableDef& def_;
  std::vector<RowValue> values_;
};

struct Ace {
  std::int32_t object;
  const Bytes* sid;
  std::int32_t rights;
  bool inheritable;
};

void FillCatalogue(PageIo& io, PageAllocator& pages, const std::vector<SystemTable>& tables,
                   const Principals& who, double now) {
  TableRows objects(io, pages, kCatalogPage);
  auto object = [&](std::int32_t id, std::int32_t parent, const std::u16string& name, int type,
                    const Bytes& owner, std::uint32_t flags) {
    RowBuilder row(objects.def());
    row.set(u"Id", Long(id)).set(u"ParentId", Long(parent)).set(u"Name", EncodeText(name, false));
    row.set(u"Type", Short(type)).set(u"DateCreate", Date(now)).set(u"DateUpdate", Date(now));
    row.set(u"Owner", owner).set(u"Flags", Long(static_cast<std::int32_t>(flags)));
    objects.insert(row.values());
  };
  object(kTablesContainerId, kRootContainerId, u"Tables", object_type::kContainer, who.engine,
         kSystemObjectFlag);
  object(kDatabasesContainerId, kRootContainerId, u"Databases", object_type::kContainer, who.engine,
         kSystemObjectFlag);
  object(kRelationshipsContainerId, kRootContainerId, u"Relationships", object_type::kContainer,
         who.engine, kSystemObjectFlag);
  object(kDatabaseObjectId, kDatabasesContainerId, u"MSysDb", object_type::kDatabase, who.admin,
         kSystemObjectFlag);
  for (const SystemTable& t : tables)
    object(t.id, kTablesContainerId, t.name, object_type::kLocalTable, who.engine,
           kSystemObjectFlag);
  const char16_t* interfaceContainers[] = {u"DataAccessPages", u"Forms",   u"Modules",
                                           u"Reports",         u"Scripts", u"SysRel"};
  std::int32_t id = kFirstInterfaceContainer;
  std::vector<std::int32_t> interfaceIds;
  for (const char16_t* name : interfaceContainers) {
    interfaceIds.push_back(id);
    object(id++, kRootContainerId, name, object_type::kContainer, who.admin, 0);
  }
  objects.flush();
  WriteIndexRowCounts(io, kCatalogPage, objects.def().rowCount);

  std::vector<Ace> aces;
  for (std::int32_t container : interfaceIds)
    for (const Bytes* sid : {&who.admins, &who.creator, &who.admin, &who.users})
      aces.push_back({container, sid, kAllRights, true});
  aces.push_back({kDatabasesContainerId, &who.admin, 393216, false});
  aces.push_back({kRelationshipsContainerId, &who.users, kUsersContainerRights, true});
  aces.push_back({kRelationshipsContainerId, &who.admin, 393217, false});
  aces.push_back({kRelationshipsContainerId, &who.creator, kAllRights, true});
  aces.push_back({kRelationshipsContainerId, &who.admins, kAllRights, true});
  aces.push_back({kTablesContainerId, &who.users, kUsersContainerRights, true});
  aces.push_back({kTablesContainerId, &who.admin, kAllTableRights, true});
  aces.push_back({kTablesContainerId, &who.creator, kAllTableRights, true});
  aces.push_back({kTablesContainerId, &who.admins, kAllTableRights, true});
  aces.push_back({kDatabaseObjectId, &who.admin, 393230, false});
  aces.push_back({kDatabaseObjectId, &who.admins, 14, false});
  aces.push_back({kDatabaseObjectId, &who.creator, 393230, false});
  for (const SystemTable& t : tables) {
    aces.push_back({t.id, &who.admin, t.id == 5 ? 917504 : 393216, false});
    aces.push_back({t.id, &who.creator, t.id <= 3 ? 393300 : 393236, false});
    if (t.id != 3) aces.push_back({t.id, &who.admins, 20, false});
  }
  TableRows acl(io, pages, 3);
  for (const Ace& a : aces) {
    RowBuilder row(acl.def());
    row.set(u"ObjectId", Long(a.object)).set(u"SID", *a.sid).set(u"ACM", Long(a.rights));
    row.set(u"FInheritable", Bytes{static_cast<unsigned char>(a.inheritable)});
    acl.insert(row.values());
  }
  acl.flush();
  WriteIndexRowCounts(io, 3, acl.def().rowCount);
}

void BuildSystemTables(MemoryPageIo& io, NewDatabaseFormat format, double now) {
  PageAllocator pages(io);
  std::vector<SystemTable> tables = SystemTables();
  for (SystemTable& t : tables)
    t.id = static_cast<std::int32_t>(pages.allocate(Bytes(kPageSize, 0)));

  // One page holds every usage map of the system tables.
  Bytes mapPage = NewDataPage(kPageSize, 0);
  auto newMap = [&] {
    std::optional<unsigned> row = InsertDataRow(mapPage, NewInlineMapRow());
    if (!row) throw Error(errc::kFailed, "The maps of the system tables do not fit their page.");
    return *row;
  };
  std::uint32_t maps = pages.allocate(mapPage);
  std::vector<std::pair<std::uint32_t, RowRef>> roots;  // index root and its map
  for (SystemTable& t : tables) {
    t.def.owned = {maps, newMap()};
    t.def.freeSpace = {maps, newMap()};
    for (NewColumnDef& c : t.def.columns)
      if (IsLongValueType(c.type))
        t.def.longValueMaps.push_back({{maps, newMap()}, {maps, newMap()}});
    for (NewIndexDef& index : t.def.indexes) {
      index.pageMap = {maps, newMap()};
      index.firstPage = pages.allocate(EmptyIndexRoot(static_cast<std::uint32_t>(t.id), kPageSize));
      roots.push_back({index.firstPage, index.pageMap});
    }
  }
  io.writePage(maps, mapPage);
  for (const auto& [root, map] : roots) UsageMap(io, map).add(root);
  for (const SystemTable& t : tables)
    io.writePage(static_cast<std::uint32_t>(t.id), BuildTableDef(kPageSize, t.def));
  FillCatalogue(io, pages, tables, PrincipalsOf(format), now);
}

}  // namespace

void CreateEmptyDatabase(const std::string& path, NewDatabaseFormat format, double now) {
  QString file = QString::fromStdString(path);
  if (QFileInfo::exists(file))
    throw Error(errc::kFailed, "The file '" + path + "' already exists.");
  MemoryPageIo io;
  io.appendPage(HeaderPage(format, now));
  io.appendPage(PageMapPage());
  BuildSystemTables(io, format, now);

  QSaveFile out(file);
  QByteArray bytes = io.bytes();
  if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
    throw Error(errc::kFailed,
                "Cannot write the new database '" + path + "': " + out.errorString().toStdString());
}

void CreateEmptyDatabase(const std::string& path, NewDatabaseFormat format) {
  CreateEmptyDatabase(path, format, OleNow());
}

}  // namespace db::access::write
