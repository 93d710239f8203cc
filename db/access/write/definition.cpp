#include "db/access/write/definition.h"

#include <QString>
#include <set>

#include "db/base/error.h"
#include "db/access/format/header.h"
#include "db/access/write/page_claims.h"
#include "db/base/names.h"

namespace db::access::write {
namespace {

constexpr unsigned kMaxDefinitionPages = 256;

[[noreturn]] void BadDef(std::uint32_t page, const std::string& what) {
  throw DamagedFileError("the table definition on page " + std::to_string(page) + ": " + what);
}

// The page maps of each long-value column (numbered by position), as both generations list
// them after the index names; FinishDefinitionPage closes the list.
void AppendLongValueMaps(Bytes& def, const std::vector<NewTextColumn>& columns,
                         const std::vector<std::pair<RowRef, RowRef>>& longValueMaps) {
  std::size_t longValues = 0;
  for (std::uint32_t i = 0; i < columns.size(); ++i) {
    if (!columns[i].longText) continue;
    if (longValues >= longValueMaps.size())
      throw Error(errc::kFailed, "Every long-value column needs its page maps.");
    Append16(def, i);
    Append32(def, longValueMaps[longValues].first.packed());
    Append32(def, longValueMaps[longValues].second.packed());
    ++longValues;
  }
}

Bytes BuildJet4TextTableDef(std::size_t pageSize, const std::vector<NewTextColumn>& columns,
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
  AppendLongValueMaps(def, columns, longValueMaps);
  FinishDefinitionPage(def, pageSize);
  return def;
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
  const DefinitionLayout& l = DefinitionLayoutOf(io.pageSize());
  TableDef def;
  def.jet3 = l.jet3;
  def.page = page;
  const std::uint16_t fileCodePage = l.jet3 ? FileCodePage(io) : 0;
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
  auto name = [&](std::size_t& pos, std::uint16_t codePage) {
    need(pos + l.nameLengthSize);
    std::size_t n = l.nameLengthSize == 1 ? bytes[pos] : Get16(&bytes[pos]);
    pos += l.nameLengthSize;
    need(pos + n);
    std::u16string text;
    if (l.jet3) {
      text = DecodeCodePageText(&bytes[pos], n, codePage);
    } else {
      for (std::size_t k = 0; k + 1 < n; k += 2)
        text.push_back(static_cast<char16_t>(Get16(&bytes[pos + k])));
    }
    pos += n;
    return text;
  };
  def.rowCount = Get32(&bytes[l.tableRowCount]);
  def.maxColumns = Get16(&bytes[l.maxColumns]);
  def.varColumns = Get16(&bytes[l.varColumnCount]);
  unsigned columnCount = Get16(&bytes[l.columnCount]);
  def.indexCount = Get32(&bytes[l.indexCount]);
  std::uint32_t realIndexes = Get32(&bytes[l.realIndexCount]);
  def.ownedPages = RowRef::Unpack(Get32(&bytes[l.usageMap]));
  def.freeSpacePages = RowRef::Unpack(Get32(&bytes[l.freeMap]));
  if (columnCount == 0 || columnCount > 256 || realIndexes > 256 || def.indexCount > 256)
    BadDef(page, "impossible counts");

  std::size_t pos = l.columnsStart + l.realIndexEntry * realIndexes;
  need(pos + l.columnEntry * columnCount);
  for (unsigned i = 0; i < columnCount; ++i, pos += l.columnEntry) {
    const unsigned char* e = &bytes[pos];
    TdefColumn c;
    c.type = e[kColumnTypeAt];
    c.number = Get16(e + l.columnNumber);
    c.varIndex = Get16(e + l.columnVarSlot);
    c.flags = e[l.columnFlags];
    c.extFlags = l.columnExtFlags ? e[l.columnExtFlags] : 0;
    c.fixedOffset = Get16(e + l.columnFixedOffset);
    c.length = Get16(e + l.columnLength);
    c.sortOrder = Get16(e + l.columnSortOrder);
    c.sortVersion = l.columnSortVersion ? e[l.columnSortVersion] : 0;
    if (l.jet3) {
      // Text in the column's code page; the file's for a column that names none.
      c.codePage = Get16(e + l.columnCodePage);
      if (c.codePage == 0) c.codePage = fileCodePage;
    }
    // A row's null mask has a bit for each of the definition's column numbers, no more.
    if (c.number >= static_cast<int>(def.maxColumns))
      BadDef(page, "a column number lies past the column count of its rows");
    def.columns.push_back(c);
  }
  for (TdefColumn& c : def.columns) c.name = name(pos, fileCodePage);
  need(pos + l.realIndexDefinition * realIndexes);
  for (unsigned i = 0; i < realIndexes; ++i, pos += l.realIndexDefinition) {
    TdefRealIndex index;
    const unsigned char* columns = &bytes[pos + l.realIndexColumnsAt];
    for (std::size_t k = 0; k < 10; ++k) {
      std::uint16_t column = Get16(columns + 3 * k);
      if (column == 0xFFFF) continue;
      index.parts.push_back({column, columns[3 * k + 2] == 0x01});
    }
    index.pageMap = RowRef::Unpack(Get32(&bytes[pos + l.realIndexMapAt]));
    index.firstPage = Get32(&bytes[pos + l.realIndexFirstPageAt]);
    def.realIndexes.push_back(index);
  }
  need(pos + l.indexEntry * def.indexCount);
  pos += l.indexEntry * def.indexCount;
  for (unsigned i = 0; i < def.indexCount; ++i) name(pos, fileCodePage);
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

std::uint16_t FileCodePage(const PageIo& io) {
  if (!PagesOfSize(io.pageSize()).jet3) return 0;
  Bytes header = io.readPage(0);
  std::optional<JetHeader> parsed = ParseJetHeader(header.data(), header.size());
  if (!parsed || !parsed->isJet3()) throw DamagedFileError("the header on page 0 cannot be read");
  return parsed->codePage;
}

Bytes EncodeColumnText(const TdefColumn& column, const std::u16string& text) {
  if (column.codePage == 0) return EncodeText(text, column.compressed());
  if (std::optional<Bytes> bytes = EncodeCodePageText(text, column.codePage)) return *bytes;
  // Name the first character the code page cannot hold.
  std::u16string one;
  for (std::size_t i = 0; i < text.size(); ++i) {
    one.assign(1, text[i]);
    if (QChar::isHighSurrogate(text[i]) && i + 1 < text.size()) one.push_back(text[i + 1]);
    if (!EncodeCodePageText(one, column.codePage)) break;
    i += one.size() - 1;
  }
  throw Error(errc::kFailed, "The text '" + QString::fromStdU16String(text).toStdString() +
                                 "' cannot be stored in this database: its character '" +
                                 QString::fromStdU16String(one).toStdString() +
                                 "' has no place in the database's code page " +
                                 std::to_string(column.codePage) + ".");
}

Bytes EncodeMemoText(const TdefColumn& column, const std::u16string& text) {
  if (column.codePage == 0) return EncodeLongText(text, column.compressed());
  return EncodeColumnText(column, text);
}

std::u16string DecodeColumnText(const TdefColumn& column, const Bytes& bytes) {
  if (column.codePage == 0) return DecodeText(bytes);
  return DecodeCodePageText(bytes.data(), bytes.size(), column.codePage);
}

void WriteRowCount(PageIo& io, std::uint32_t page, std::uint32_t rows) {
  Bytes data = io.readPage(page);
  Put32(&data[DefinitionLayoutOf(io.pageSize()).tableRowCount], rows);
  io.writePage(page, data);
}

Bytes BuildTextTableDef(std::size_t pageSize, const std::vector<NewTextColumn>& columns,
                        RowRef owned, RowRef freeSpace, std::uint16_t codePage,
                        const std::vector<std::pair<RowRef, RowRef>>& longValueMaps) {
  const DefinitionLayout& l = DefinitionLayoutOf(pageSize);
  if (!l.jet3) return BuildJet4TextTableDef(pageSize, columns, owned, freeSpace, longValueMaps);
  Bytes def(l.columnsStart, 0);
  def[0] = kDefinitionPage;
  def[1] = kPageMark;
  def[l.tableType] = kUserTable;
  auto count = static_cast<std::uint32_t>(columns.size());
  Put16(&def[l.maxColumns], count);
  Put16(&def[l.varColumnCount], count);
  Put16(&def[l.columnCount], count);
  Put32(&def[l.usageMap], owned.packed());
  Put32(&def[l.freeMap], freeSpace.packed());
  for (std::uint32_t i = 0; i < count; ++i) {
    Bytes e(l.columnEntry, 0);
    e[kColumnTypeAt] =
        static_cast<unsigned char>(columns[i].longText ? coltype::kMemo : coltype::kText);
    Put16(&e[l.columnNumber], i);
    Put16(&e[l.columnVarSlot], i);
    Put16(&e[l.columnIndex], i);
    Put16(&e[kJet3ColumnMarkAt], 1);
    Put16(&e[l.columnSortOrder], kGeneralSortOrder);
    Put16(&e[l.columnCodePage], codePage);
    e[l.columnFlags] = kAlwaysColumn;
    if (!columns[i].longText)
      Put16(&e[l.columnLength], static_cast<std::uint32_t>(columns[i].length));
    def.insert(def.end(), e.begin(), e.end());
  }
  TdefColumn nameForm;
  nameForm.codePage = codePage;
  for (const NewTextColumn& c : columns) {
    Bytes name = EncodeColumnText(nameForm, c.name);
    if (name.size() > 0xFF) throw Error(errc::kFailed, "A column name is too long.");
    def.push_back(static_cast<unsigned char>(name.size()));
    def.insert(def.end(), name.begin(), name.end());
  }
  AppendLongValueMaps(def, columns, longValueMaps);
  FinishDefinitionPage(def, pageSize);
  return def;
}

void FinishDefinitionPage(Bytes& def, std::size_t pageSize) {
  Append16(def, 0xFFFF);
  if (def.size() + 8 > pageSize)
    throw Error(errc::kFailed, "The table definition does not fit one page.");
  if (DefinitionLayoutOf(pageSize).jet3)
    std::copy(std::begin(kJet3DefinitionMark), std::end(kJet3DefinitionMark),
              &def[kDefFreeBytesAt]);
  else
    Put16(&def[kDefFreeBytesAt], static_cast<std::uint32_t>(pageSize - 8 - def.size()));
  Put32(&def[kDefUsedBytesAt], static_cast<std::uint32_t>(def.size()));
  def.resize(pageSize, 0);
}

}  // namespace db::access::write
