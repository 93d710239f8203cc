#include "db/access/write/definition.h"

#include <QString>
#include <set>

#include "db/base/error.h"
#include "db/access/write/page_claims.h"
#include "db/base/names.h"

namespace db::access::write {
namespace {

constexpr unsigned kMaxDefinitionPages = 256;

[[noreturn]] void BadDef(std::uint32_t page, const std::string& what) {
  throw DamagedFileError("the table definition on page " + std::to_string(page) + ": " + what);
}

}  // namespace

RowColumn TdefColumn::rowColumn() const {
  RowColumn c;
  c.number = number;
  c.fixed = fixed();
  c.fixedOffset = fixedOffset;
  c.length = length;
  c.varIndex = varIndex;
  c.boolean = type == coltype::kBoolean;
  c.minSize = ValueSize(type);
  return c;
}

std::vector<RowColumn> TableDef::rowColumns() const {
  std::vector<RowColumn> out;
  for (const TdefColumn& c : columns) out.push_back(c.rowColumn());
  return out;
}

unsigned TableDef::varSlots() const {
  unsigned count = 0;
  for (const TdefColumn& c : columns)
    if (!c.fixed() && c.type != coltype::kBoolean)
      count = std::max(count, unsigned(c.varIndex + 1));
  return std::max(count, varColumns);
}

int TableDef::find(const std::u16string& name) const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (SameName(columns[i].name, name)) return static_cast<int>(i);
  return -1;
}

TableDef ReadTableDef(const PageIo& io, std::uint32_t page) {
  TableDef def;
  def.page = page;
  Bytes bytes;
  std::set<std::uint32_t> seen;
  for (std::uint32_t p = page; p != 0;) {
    if (p >= io.pageCount() || !seen.insert(p).second || seen.size() > kMaxDefinitionPages)
      BadDef(page, "its pages form a loop or leave the file");
    Bytes data = io.readPage(p);
    if (data[0] != kDefinitionPage) BadDef(page, "a page is not a definition page");
    bytes.insert(bytes.end(), data.begin() + (bytes.empty() ? 0 : kDefContinuationAt), data.end());
    def.pages.push_back(p);
    p = Get32(&data[kDefNextPageAt]);
  }
  auto need = [&](std::size_t end) {
    if (end > bytes.size()) BadDef(page, "it is cut short");
  };
  def.rowCount = Get32(&bytes[kDefRowCountAt]);
  def.maxColumns = Get16(&bytes[kDefMaxColumnsAt]);
  def.varColumns = Get16(&bytes[kDefVarColumnsAt]);
  unsigned columnCount = Get16(&bytes[kDefColumnCountAt]);
  def.indexCount = Get32(&bytes[kDefIndexCountAt]);
  std::uint32_t realIndexes = Get32(&bytes[kDefRealIndexCountAt]);
  def.ownedPages = RowRef::Unpack(Get32(&bytes[kDefOwnedMapAt]));
  def.freeSpacePages = RowRef::Unpack(Get32(&bytes[kDefFreeMapAt]));
  if (columnCount == 0 || columnCount > 256 || realIndexes > 256 || def.indexCount > 256)
    BadDef(page, "impossible counts");

  std::size_t pos = kDefHeader + kRealIndexHead * realIndexes;
  need(pos + kColumnEntry * columnCount);
  for (unsigned i = 0; i < columnCount; ++i, pos += kColumnEntry) {
    const unsigned char* e = &bytes[pos];
    TdefColumn c;
    c.type = e[kColumnTypeAt];
    c.number = Get16(e + kColumnNumberAt);
    c.varIndex = Get16(e + kColumnVarSlotAt);
    c.flags = e[kColumnFlagsAt];
    c.extFlags = e[kColumnExtFlagsAt];
    c.fixedOffset = Get16(e + kColumnFixedOffsetAt);
    c.length = Get16(e + kColumnLengthAt);
    c.sortOrder = Get16(e + kColumnSortOrderAt);
    c.sortVersion = e[kColumnSortVersionAt];
    // A row's null mask has a bit for each of the definition's column numbers, no more.
    if (c.number >= static_cast<int>(def.maxColumns))
      BadDef(page, "a column number lies past the column count of its rows");
    def.columns.push_back(c);
  }
  for (TdefColumn& c : def.columns) {
    need(pos + 2);
    std::size_t n = Get16(&bytes[pos]);
    need(pos + 2 + n);
    for (std::size_t k = 0; k + 1 < n; k += 2)
      c.name.push_back(static_cast<char16_t>(Get16(&bytes[pos + 2 + k])));
    pos += 2 + n;
  }
  need(pos + kRealIndexEntry * realIndexes);
  for (unsigned i = 0; i < realIndexes; ++i, pos += kRealIndexEntry) {
    TdefRealIndex index;
    for (std::size_t k = 0; k < 10; ++k) {
      std::uint16_t column = Get16(&bytes[pos + 4 + 3 * k]);
      if (column == 0xFFFF) continue;
      index.parts.push_back({column, bytes[pos + 6 + 3 * k] == 0x01});
    }
    index.pageMap = RowRef::Unpack(Get32(&bytes[pos + 34]));
    index.firstPage = Get32(&bytes[pos + 38]);
    def.realIndexes.push_back(index);
  }
  need(pos + kIndexEntry * def.indexCount);
  pos += kIndexEntry * def.indexCount;
  for (unsigned i = 0; i < def.indexCount; ++i) {
    need(pos + 2);
    pos += 2 + Get16(&bytes[pos]);
  }
  // Page maps of the long-value columns, up to FF FF.
  while (true) {
    need(pos + 2);
    std::uint16_t column = Get16(&bytes[pos]);
    if (column == 0xFFFF) break;
    need(pos + 10);
    def.longValueMaps.push_back(
        {column, RowRef::Unpack(Get32(&bytes[pos + 2])), RowRef::Unpack(Get32(&bytes[pos + 6]))});
    pos += 10;
  }
  return def;
}

void WriteRowCount(PageIo& io, std::uint32_t page, std::uint32_t rows) {
  Bytes data = io.readPage(page);
  Put32(&data[kDefRowCountAt], rows);
  io.writePage(page, data);
}

Bytes BuildTextTableDef(std::size_t pageSize, const std::vector<NewTextColumn>& columns,
                        RowRef owned, RowRef freeSpace,
                        const std::vector<std::pair<RowRef, RowRef>>& longValueMaps) {
  Bytes def(kDefHeader, 0);
  def[0] = kDefinitionPage;
  def[1] = kPageMark;
  Put32(&def[kDefMagicAt], kMagic0659);
  def[24] = 0x01;
  def[kDefTableTypeAt] = kUserTable;
  auto count = static_cast<std::uint32_t>(columns.size());
  Put16(&def[kDefMaxColumnsAt], count);
  Put16(&def[kDefVarColumnsAt], count);
  Put16(&def[kDefColumnCountAt], count);
  Put32(&def[kDefOwnedMapAt], owned.packed());
  Put32(&def[kDefFreeMapAt], freeSpace.packed());
  for (std::uint32_t i = 0; i < count; ++i) {
    Bytes e(kColumnEntry, 0);
    e[kColumnTypeAt] =
        static_cast<unsigned char>(columns[i].longText ? coltype::kMemo : coltype::kText);
    Put32(&e[1], kMagic0659);
    Put16(&e[kColumnNumberAt], i);
    Put16(&e[kColumnVarSlotAt], i);
    Put16(&e[kColumnIndexAt], i);
    Put16(&e[kColumnSortOrderAt], kGeneralSortOrder);
    e[kColumnFlagsAt] = kAlwaysColumn;
    e[kColumnExtFlagsAt] = kCompressedColumn;
    if (!columns[i].longText)
      Put16(&e[kColumnLengthAt], static_cast<std::uint32_t>(2 * columns[i].length));
    def.insert(def.end(), e.begin(), e.end());
  }
  for (const NewTextColumn& c : columns) {
    Append16(def, static_cast<std::uint32_t>(2 * c.name.size()));
    for (char16_t u : c.name) Append16(def, u);
  }
  std::size_t longValues = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!columns[i].longText) continue;
    if (longValues >= longValueMaps.size())
      throw Error(errc::kFailed, "Every long-value column needs its page maps.");
    Append16(def, i);
    Append32(def, longValueMaps[longValues].first.packed());
    Append32(def, longValueMaps[longValues].second.packed());
    ++longValues;
  }
  FinishDefinitionPage(def, pageSize);
  return def;
}

void FinishDefinitionPage(Bytes& def, std::size_t pageSize) {
  Append16(def, 0xFFFF);
  if (def.size() + 8 > pageSize)
    throw Error(errc::kFailed, "The table definition does not fit one page.");
  Put16(&def[kDefFreeBytesAt], static_cast<std::uint32_t>(pageSize - 8 - def.size()));
  Put32(&def[kDefUsedBytesAt], static_cast<std::uint32_t>(def.size()));
  def.resize(pageSize, 0);
}

}  // namespace db::access::write
