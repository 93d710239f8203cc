#include "db/access/write/writer.h"

#include <QString>
#include <set>

#include "db/access/format/catalog.h"
#include "db/access/format/index_page.h"
#include "db/base/error.h"
#include "db/access/write/definition_build.h"
#include "db/access/write/index_key.h"
#include "db/base/names.h"

namespace db::access::write {
namespace {

constexpr int kMaxTextLength = 255;
constexpr std::size_t kMapRows = 2;

std::u16string Utf16(const std::string& utf8) {
  return QString::fromStdString(utf8).toStdU16String();
}

bool IsTextType(const std::string& type) {
  return type == "VARCHAR" || type == "TEXT" || type == "CHAR" || type == "NVARCHAR" ||
         type == "CHARACTER" || type == "STRING";
}

// The words Access SQL has for a Memo (long text) column.
bool IsLongTextType(const std::string& type) { return type == "LONGTEXT" || type == "MEMO"; }

[[noreturn]] void InvalidName(const std::string& name) {
  throw Error(errc::kFailed,
              "'" + name +
                  "' is not a valid name. Make sure that it does not include invalid "
                  "characters or punctuation and that it is not too long.");
}

bool IsPageOf(const Bytes& page, std::uint32_t definition) {
  if (page[0] == kDataPage)
    return Get32(&page[kDataOwnerAt]) == definition ||
           Get32(&page[kDataOwnerAt]) == kLongValueOwner;
  if (page[0] == kIndexNodePage || page[0] == kIndexLeafPage)
    return Get32(&page[kIndexOwnerAt]) == definition;  // at 4 in both generations
  return false;
}

}  // namespace

JetWriter::JetWriter(PageIo& io, std::function<double()> clock)
    : io_(io),
      clock_(std::move(clock)),
      claims_(io),
      pages_(io, &claims_),
      catalog_(io, pages_),
      longValues_(io_, pages_) {}

JetWriter::~JetWriter() = default;

TableRows& JetWriter::rowsOf(std::uint32_t definitionPage) {
  auto it = tables_.find(definitionPage);
  if (it == tables_.end())
    it = tables_.emplace(definitionPage, std::make_unique<TableRows>(io_, pages_, definitionPage))
             .first;
  return *it->second;
}

void JetWriter::flush() {
  for (auto& [page, rows] : tables_) rows->flush();
  catalog_.flush();
}

CatalogEntry JetWriter::findTable(const std::u16string& name, const std::string& utf8) const {
  std::optional<CatalogEntry> entry = catalog_.findInTables(name);
  if (!entry || (entry->type & 0x7F) != object_type::kLocalTable)
    throw Error(errc::kNoSuchObject, "The input table or query '" + utf8 +
                                         "' cannot be found. Make sure it exists and that its "
                                         "name is spelled correctly.");
  if ((entry->flags & (kSystemObjectFlag | kAccessObjectFlag)) ||
      StartsWithIgnoringCase(QString::fromStdU16String(entry->name).toStdString(),
                             kSystemTablePrefix))
    throw Error(errc::kNotSupported,
                "Writing to the system table '" + utf8 + "' is not supported.");
  return *entry;
}

void JetWriter::createTable(const CreateTableStatement& statement) {
  std::u16string name = Utf16(statement.table);
  std::string why;
  if (!ValidTableName(name, &why)) InvalidName(statement.table);
  // A table of such a name would be Access's own to readers: listed apart from the user's
  // tables (so never found again to be replaced) and, for "MSys", closed to inserts.
  for (const char* prefix : {kSystemTablePrefix, kTemporaryTablePrefix})
    if (StartsWithIgnoringCase(statement.table, prefix))
      throw Error(errc::kFailed, "'" + statement.table +
                                     "' cannot be the name of a new table: names that start "
                                     "with \"" +
                                     prefix + "\" are kept for Access's own tables.");
  const bool jet3 = PagesOfSize(io_.pageSize()).jet3;
  if (jet3) {
    // The catalogue's index of names holds the name's key; Access 97's keys are known for
    // letters and digits only.
    if (!CanEncodeIndexText(statement.table, TextCollation::kJet3General, &why))
      throw Error(errc::kNotSupported,
                  "The table name '" + statement.table +
                      "' cannot be written into this Access 97 database: " + why + ".");
  } else if (!CanEncodeIndexText(statement.table, TextCollation::kGeneral) ||
             !CanEncodeIndexText(statement.table, TextCollation::kGeneralLegacy)) {
    InvalidName(statement.table);
  }
  if (catalog_.findInTables(name))
    throw Error(errc::kFailed, "Table '" + statement.table + "' already exists.");
  inserting_.clear();

  std::vector<NewTextColumn> columns;
  if (statement.columns.empty() || statement.columns.size() > 255)
    throw Error(errc::kSyntax, "Syntax error in field definition.");
  for (const ColumnDefinition& c : statement.columns) {
    NewTextColumn column;
    column.name = Utf16(c.name);
    if (!ValidTableName(column.name, &why)) InvalidName(c.name);
    for (const NewTextColumn& earlier : columns)
      if (SameName(earlier.name, column.name))
        throw Error(errc::kFailed, "Field '" + c.name + "' is defined more than once.");
    column.longText = IsLongTextType(c.type);
    if (!IsTextType(c.type) && !column.longText)
      throw Error(errc::kNotSupported,
                  "Creating a column of type " + c.type + " is not supported.");
    if (column.longText && c.length)
      throw Error(errc::kSyntax,
                  "Syntax error in field definition: a " + c.type + " field takes no size.");
    column.length = c.length.value_or(kMaxTextLength);
    if (column.length < 1 || column.length > kMaxTextLength)
      throw Error(errc::kSyntax, "The size of field '" + c.name + "' is too long.");
    columns.push_back(std::move(column));
  }
  // Each Memo column gets its own two maps (its long values' pages and those with room), on
  // the page of the table's maps.
  std::size_t longColumns = 0;
  for (const NewTextColumn& c : columns) longColumns += c.longText ? 1 : 0;
  std::vector<std::pair<RowRef, RowRef>> longValueMaps(longColumns);
  // Checked up front so that nothing is written for a definition that cannot be stored.
  const std::uint16_t codePage = FileCodePage(io_);
  BuildTextTableDef(io_.pageSize(), columns, {}, {}, codePage, longValueMaps);

  std::uint32_t definition = pages_.allocate(Bytes(io_.pageSize(), 0));
  Bytes mapPage = NewDataPage(io_.pageSize(), 0);
  for (std::size_t i = 0; i < kMapRows + 2 * longColumns; ++i)
    if (!InsertDataRow(mapPage, NewInlineMapRow(0, PagesOfSize(io_.pageSize()).mapBitmapBytes)))
      throw Error(errc::kFailed, "The table's maps do not fit one page.");
  std::uint32_t maps = pages_.allocate(mapPage);
  for (std::size_t i = 0; i < longColumns; ++i)
    longValueMaps[i] = {RowRef{maps, unsigned(kMapRows + 2 * i)},
                        RowRef{maps, unsigned(kMapRows + 2 * i + 1)}};
  io_.writePage(definition, BuildTextTableDef(io_.pageSize(), columns, {maps, 0}, {maps, 1},
                                              codePage, longValueMaps));
  catalog_.addTable(definition, name, clock_());
  flush();
}

void JetWriter::insert(const InsertStatement& statement) {
  auto known = inserting_.find(statement.table);
  if (known == inserting_.end())
    known = inserting_.emplace(statement.table, findTable(Utf16(statement.table), statement.table))
                .first;
  const CatalogEntry& entry = known->second;
  TableRows& table = rowsOf(static_cast<std::uint32_t>(entry.id) & 0xFFFFFF);
  const TableDef& def = table.def();
  if (statement.values.size() != def.columns.size())
    throw Error(errc::kFailed, "Number of query values and destination fields are not the same.");

  // Every value is encoded and checked before a long value takes a page.
  std::vector<RowValue> values;
  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    const TdefColumn& column = def.columns[i];
    std::u16string text = Utf16(statement.values[i]);
    if (column.type == coltype::kMemo) {
      values.emplace_back(EncodeMemoText(column, text));
      CheckLongValueLength(values.back()->size());
      continue;
    }
    if (column.type != coltype::kText)
      throw Error(errc::kNotSupported, "Writing to a column of this type is not supported.");
    // The length of a Text column counts bytes: two per character, one in Jet 3's code page.
    Bytes stored = EncodeColumnText(column, text);
    if (column.codePage ? stored.size() > static_cast<std::size_t>(column.length)
                        : text.size() > static_cast<std::size_t>(column.length / 2))
      RefuseTooLong();
    values.emplace_back(std::move(stored));
  }
  for (std::size_t i = 0; i < def.columns.size(); ++i)
    if (def.columns[i].type == coltype::kMemo)
      values[i] = longValues_.store(def, def.columns[i], *values[i]);
  table.insert(values);
  flush();
}

std::set<std::uint32_t> JetWriter::longValuePagesOf(const TableDef& def) {
  std::set<std::uint32_t> pages;
  std::vector<std::size_t> longColumns;
  for (std::size_t i = 0; i < def.columns.size(); ++i)
    if (IsLongValueType(def.columns[i].type)) longColumns.push_back(i);
  if (longColumns.empty()) return pages;
  TableRows(io_, pages_, def.page).scan([&](RowRef, const std::vector<RowValue>& values) {
    for (std::size_t i : longColumns)
      if (values[i])
        for (RowRef r : LongValueRows(io_, values[i]->data(), values[i]->size()))
          pages.insert(r.page);
    return true;
  });
  return pages;
}

void JetWriter::releaseTablePages(const TableDef& def,
                                  const std::set<std::uint32_t>& longValuePages) {
  std::set<std::uint32_t> freed;
  std::set<std::uint32_t> mapRowPages;
  auto releaseMap = [&](RowRef where, bool ownPages) {
    if (where.page == 0 || where.page >= io_.pageCount()) return;
    UsageMap map(io_, where);
    if (ownPages) {
      for (std::uint32_t p : map.pages()) {
        if (p >= io_.pageCount() || freed.count(p)) continue;
        if (!IsPageOf(io_.readPage(p), def.page)) continue;
        pages_.release(p);
        freed.insert(p);
      }
    }
    for (std::uint32_t p : map.mapPages())
      if (freed.insert(p).second) pages_.release(p);
    Bytes page = io_.readPage(where.page);
    DeleteDataRow(page, where.row);
    io_.writePage(where.page, page);
    mapRowPages.insert(where.page);
  };
  releaseMap(def.ownedPages, true);
  releaseMap(def.freeSpacePages, false);
  for (const TdefRealIndex& index : def.realIndexes) releaseMap(index.pageMap, true);
  for (const TdefLongValueMaps& lv : def.longValueMaps) {
    releaseMap(lv.owned, true);
    releaseMap(lv.freeSpace, false);
  }
  // A page that only held this table's maps goes back too.
  for (std::uint32_t p : mapRowPages) {
    Bytes page = io_.readPage(p);
    if (page[0] == kDataPage && DataPageOwner(page) == 0 && DataPageEmpty(page) &&
        !freed.count(p)) {
      pages_.release(p);
      freed.insert(p);
    }
  }
  for (std::uint32_t p : def.pages)
    if (freed.insert(p).second) pages_.release(p);
  // The maps list every page of the table's long values; a page of a chain that they missed
  // goes back too (the survey found no other table naming it).
  for (std::uint32_t p : longValuePages)
    if (!freed.count(p) && IsPageOf(io_.readPage(p), def.page) && freed.insert(p).second)
      pages_.release(p);
}

void JetWriter::dropTable(const DropTableStatement& statement) {
  std::u16string name = Utf16(statement.table);
  CatalogEntry entry = findTable(name, statement.table);
  inserting_.clear();
  // Its catalogue row leaves the index of names by its key: refused before anything changes
  // when the key is not one this program can make (Access 97 names beyond letters and digits).
  std::string why;
  if (PagesOfSize(io_.pageSize()).jet3 &&
      !CanEncodeIndexText(QString::fromStdU16String(entry.name).toStdString(),
                          TextCollation::kJet3General, &why))
    throw Error(errc::kNotSupported,
                "The table '" + statement.table +
                    "' cannot be dropped from this Access 97 database: " + why + ".");
  if (catalog_.inRelationship(entry.name))
    throw Error(errc::kFailed, "Cannot drop table '" + statement.table +
                                   "': it takes part in one or more relationships.");
  std::uint32_t definition = static_cast<std::uint32_t>(entry.id) & 0xFFFFFF;
  TableDef def = ReadTableDef(io_, definition);
  std::set<std::uint32_t> longValuePages = longValuePagesOf(def);
  tables_.erase(definition);
  longValues_.forget(definition);
  catalog_.removeObject(entry);
  releaseTablePages(def, longValuePages);
  flush();
}

}  // namespace db::access::write
