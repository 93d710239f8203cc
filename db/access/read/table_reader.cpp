#include "db/access/read/table_reader.h"

#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "db/access/format/bytes.h"
#include "db/access/format/definition.h"
#include "db/access/format/pages.h"
#include "db/access/format/values.h"
#include "db/base/names.h"

namespace db::access::read {
namespace {

using Layout = DefinitionLayout;

constexpr unsigned kMaxColumns = 256;
constexpr unsigned kMaxRealIndexes = 256;
constexpr unsigned kMaxDefinitionPages = 256;
constexpr int kMaxColumnNumber = 255;
constexpr int kMaxRowHops = 8;

}  // namespace

JetTable::JetTable(const JetDatabase& db, std::string name, std::uint32_t definitionPage)
    : db_(db), name_(std::move(name)), definitionPage_(definitionPage) {
  std::vector<ListedColumn> listed = readListedColumns();

  entry_.mdb = db_.handle();
  std::snprintf(entry_.object_name, sizeof entry_.object_name, "%s", name_.c_str());
  entry_.object_type = MDB_TABLE;
  entry_.table_pg = definitionPage_;
  table_ = mdb_read_table(&entry_);
  if (!table_) damaged("its definition cannot be read");
  if (!mdb_read_columns(table_)) damaged("its column definitions cannot be read");
  attachColumns(listed);
  collectDataPages();
}

JetTable::~JetTable() {
  if (table_) mdb_free_tabledef(table_);
}

void JetTable::damaged(const std::string& detail) const {
  db_.damaged("table '" + name_ + "': " + detail);
}

std::vector<unsigned char> JetTable::definitionBytes() const {
  std::vector<unsigned char> bytes;
  std::set<std::uint32_t> seen;
  std::uint32_t page = definitionPage_;
  if (page == 0) damaged("its definition would lie on the header page");
  while (page != 0) {
    if (!seen.insert(page).second || seen.size() > kMaxDefinitionPages)
      damaged("its definition pages form a loop");
    std::vector<unsigned char> data = db_.copyPage(page);
    if (data[0] != kDefinitionPage)
      damaged("page " + std::to_string(page) + " is not a definition page");
    bytes.insert(bytes.end(), data.begin() + (bytes.empty() ? 0 : kDefContinuationAt), data.end());
    page = Get32(data.data() + kDefNextPageAt);
  }
  return bytes;
}

std::vector<JetTable::ListedColumn> JetTable::readListedColumns() const {
  const Layout& l = db_.header().isJet3() ? kJet3Layout : kJet4Layout;
  std::vector<unsigned char> def = definitionBytes();
  unsigned columnCount = Get16(&def[l.columnCount]);
  int maxColumns = static_cast<int>(Get16(&def[l.maxColumns]));
  std::uint32_t realIndexes = Get32(&def[l.realIndexCount]);
  if (columnCount == 0 || columnCount > kMaxColumns)
    damaged("it has an impossible number of columns");
  if (realIndexes > kMaxRealIndexes) damaged("it has an impossible number of indexes");
  // libmdb reads both page maps by the page/row numbers given here without checking that the
  // row is there: a page past the end of the file, or one that holds no such row (zeroed,
  // overwritten), would reach it as an empty map, and the table would seem to have no rows.
  for (std::size_t at : {l.usageMap, l.freeMap}) {
    std::uint32_t pageRow = Get32(&def[at]);
    if (!db_.hasPage(pageRow >> 8)) damaged("its page map lies beyond the end of the file");
    std::vector<unsigned char> page = db_.copyPage(pageRow >> 8);
    unsigned row = pageRow & 0xFF, rows = Get16(&page[l.rowCount]);
    if (page[0] != kDataPage || row >= rows || l.rowCount + 2 + 2 * rows > page.size() ||
        (Get16(&page[l.rowCount + 2 + 2 * row]) & kRowSkipBit))
      damaged("its page map cannot be found");
  }

  std::size_t pos = l.columnsStart + realIndexes * l.realIndexEntry;
  if (pos + columnCount * l.columnEntry > def.size())
    damaged("its column definitions are cut short");
  std::vector<ListedColumn> columns;
  std::set<int> numbers;
  for (unsigned i = 0; i < columnCount; ++i, pos += l.columnEntry) {
    const unsigned char* e = &def[pos];
    ListedColumn c;
    c.type = e[0];
    c.number = static_cast<int>(Get16(e + l.columnNumber));
    c.scale = e[l.columnScale];
    c.fixed = (e[l.columnFlags] & 0x01) != 0;
    c.fixedOffset = static_cast<int>(Get16(e + l.columnFixedOffset));
    c.length = c.type == MDB_BOOL ? 0 : static_cast<int>(Get16(e + l.columnLength));
    // A row holds up to the definition's maximum column count: a column numbered past it is
    // read from bytes beyond the row's null mask.
    if (c.number > kMaxColumnNumber || c.number >= maxColumns || !numbers.insert(c.number).second)
      damaged("a column number is invalid or repeated");
    if (c.fixed && static_cast<std::size_t>(c.fixedOffset + c.length) > db_.pageSize())
      damaged("a fixed-length column lies outside a row");
    columns.push_back(c);
  }
  for (unsigned i = 0; i < columnCount; ++i) {
    if (pos + l.nameLengthSize > def.size()) damaged("its column names are cut short");
    std::size_t length = l.nameLengthSize == 1 ? def[pos] : Get16(&def[pos]);
    pos += l.nameLengthSize + length;
    if (pos > def.size()) damaged("its column names are cut short");
  }
  return columns;
}

void JetTable::attachColumns(const std::vector<ListedColumn>& listed) {
  if (!table_->columns || table_->num_cols != listed.size())
    damaged("its column definitions are inconsistent");
  scales_.assign(table_->num_cols, 0);
  for (const ListedColumn& c : listed) {
    std::optional<std::size_t> found;
    for (std::size_t k = 0; k < table_->num_cols; ++k) {
      auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, k));
      // libmdb keeps the low byte of the column number.
      if (col->col_num == (c.number & 0xFF)) found = k;
    }
    if (!found) damaged("its column definitions are inconsistent");
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, *found));
    if (col->name[0] == '\0') damaged("a column has no name");
    libIndex_.push_back(*found);
    scales_[*found] = c.scale;
    names_.emplace_back(col->name);
  }
  fields_.resize(table_->num_cols);
}

void JetTable::collectDataPages() {
  const unsigned char* map = table_->usage_map;
  std::size_t size = table_->map_sz;
  if (!map || size < 5) damaged("its page map is missing");
  auto addPage = [&](std::uint64_t page) {
    if (!db_.hasPage(page))
      damaged("its page map names page " + std::to_string(page) + " beyond the end of the file");
    pages_.push_back(static_cast<std::uint32_t>(page));
  };
  if (map[0] == 0) {
    std::uint64_t first = Get32(map + 1);
    for (std::size_t bit = 0; bit < (size - 5) * 8; ++bit)
      if (map[kInlineMapBitmapAt + bit / 8] & (1u << (bit % 8))) addPage(first + bit);
  } else if (map[0] == 1) {
    const std::size_t bitsPerMapPage = (db_.pageSize() - 4) * 8;
    for (std::size_t index = 0; index < (size - 1) / 4; ++index) {
      std::uint32_t mapPage = Get32(map + 1 + 4 * index);
      if (mapPage == 0) continue;
      std::vector<unsigned char> bits = db_.copyPage(mapPage);
      if (bits[0] != kMapPage) damaged("page " + std::to_string(mapPage) + " is not a page map");
      for (std::size_t bit = 0; bit < bitsPerMapPage; ++bit)
        if (bits[kMapPageBitmapAt + bit / 8] & (1u << (bit % 8)))
          addPage(index * bitsPerMapPage + bit);
    }
  } else {
    damaged("its page map has an unknown kind");
  }
}

std::optional<std::size_t> JetTable::findField(const std::string& name) const {
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (SameName(names_[i], name)) return i;
  return std::nullopt;
}

bool JetTable::isOwnDataPage(const unsigned char* page) const {
  return page[0] == kDataPage && Get32(page + kDataOwnerAt) == definitionPage_;
}

bool JetTable::next(const std::vector<std::size_t>& fields, std::vector<Value>& row) {
  const std::size_t rowCountOffset =
      db_.header().isJet3() ? kJet3Layout.rowCount : kJet4Layout.rowCount;
  while (pageIndex_ < pages_.size()) {
    std::uint32_t page = pages_[pageIndex_];
    const unsigned char* buf = db_.loadPage(page);
    if (rowIndex_ == 0) {
      // Every page a table's map names is a data page of that table. Any other page there is
      // damage (a page overwritten or moved), and passing over it would lose its rows unnoticed.
      if (!isOwnDataPage(buf))
        damaged("page " + std::to_string(page) + " of its page map is not one of its data pages");
      rowCount_ = Get16(buf + rowCountOffset);
      if (rowCountOffset + 2 + 2 * rowCount_ > db_.pageSize())
        damaged("a data page has too many rows");
    }
    while (rowIndex_ < rowCount_) {
      unsigned r = rowIndex_++;
      if (readRow(page, r, fields, row)) return true;
    }
    ++pageIndex_;
    rowIndex_ = 0;
  }
  return false;
}

bool JetTable::readRow(std::uint32_t page, unsigned row, const std::vector<std::size_t>& fields,
                       std::vector<Value>& values) {
  MdbHandle* mdb = db_.handle();
  const std::size_t rowCountOffset =
      db_.header().isJet3() ? kJet3Layout.rowCount : kJet4Layout.rowCount;
  const unsigned char* buf = db_.loadPage(page);
  std::uint32_t start = Get16(buf + rowCountOffset + 2 + 2 * row);
  if (start & kRowSkipBit) return false;  // deleted, or the moved data of another row

  int offset = 0;
  std::size_t length = 0;
  for (int hops = 0;; ++hops) {
    if (mdb_find_row(mdb, static_cast<int>(row), &offset, &length) != 0 || length == 0)
      damaged("a row lies outside its page");
    offset &= kRowOffsetMask;
    if (!(start & kRowMoved)) break;
    // A moved row: follow it to where its data now lives.
    if (hops == kMaxRowHops || length < 4) damaged("a moved row cannot be followed");
    row = buf[offset];
    page = Get24(buf + offset + 1);
    buf = db_.loadPage(page);
    if (!isOwnDataPage(buf) || row >= Get16(buf + rowCountOffset))
      damaged("a moved row points to a page of another object");
    start = Get16(buf + rowCountOffset + 2 + 2 * row);
  }
  if (mdb_crack_row(table_, offset, length, fields_.data()) < 0) damaged("a row cannot be decoded");

  values.clear();
  for (std::size_t f : fields) values.push_back(decode(libIndex_.at(f)));
  return true;
}

Value JetTable::decode(std::size_t libColumn) const {
  auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, libColumn));
  const MdbField& field = fields_[libColumn];
  if (col->col_type == MDB_BOOL)
    return Value::Boolean(!field.is_null);  // the null bit is the value
  if (field.is_null) return Value::Null();
  if (field.start < 0 || field.siz < 0 ||
      static_cast<std::size_t>(field.start) + static_cast<std::size_t>(field.siz) > db_.pageSize())
    damaged("a value lies outside its row");
  const unsigned char* p = db_.handle()->pg_buf + field.start;
  auto size = static_cast<std::size_t>(field.siz);
  if (size < ValueSize(col->col_type))
    damaged("a value of field '" + std::string(col->name) + "' is too short");

  switch (col->col_type) {
    case MDB_BYTE:
      return Value::Integer(p[0]);
    case MDB_INT:
      return Value::Integer(JetSigned(p, 2));
    case MDB_LONGINT:
      return Value::Integer(JetSigned(p, 4));
    case coltype::kBigInt:
      return Value::Integer(JetSigned(p, 8));
    case MDB_MONEY:
      return Value::Currency(JetSigned(p, 8));
    case MDB_FLOAT:
      return Value::Double(SingleAsDouble(JetSingle(p)));
    case MDB_DOUBLE:
      return Value::Double(JetDouble(p));
    case MDB_DATETIME:
      return Value::DateTime(JetDouble(p));
    case MDB_REPID:
      return Value::Text(JetGuidText(p));
    case MDB_NUMERIC:
      return Value::Decimal(JetDecimalDigits(p, scales_[libColumn]));
    case MDB_TEXT:
      return Value::Text(db_.decodeText(p, size));
    case MDB_MEMO: {
      std::string bytes = longValue(p, size);
      return Value::Text(
          db_.decodeText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
    }
    case MDB_OLE:
      return Value::Binary(longValue(p, size));
    case coltype::kExtendedDate: {
      std::optional<double> date = JetExtendedDate(p, size);
      if (!date) damaged("a value of field '" + std::string(col->name) + "' is not a date");
      return Value::DateTime(*date);
    }
    case MDB_COMPLEX:
      return Value::Null();  // attachments and multi-valued fields live elsewhere
    default:
      return Value::Binary(std::string(reinterpret_cast<const char*>(p), size));
  }
}

std::string JetTable::lvalRow(std::uint32_t pageRow) const {
  if (!db_.hasPage(pageRow >> 8)) damaged("a long value names a page beyond the end of the file");
  void* buf = nullptr;
  int offset = 0;
  std::size_t length = 0;
  if (mdb_find_pg_row(db_.handle(), static_cast<int>(pageRow), &buf, &offset, &length) != 0)
    damaged("a long value cannot be found");
  // Long values live on data pages marked "LVAL" where other data pages name their table; a row
  // number past the page's row count reads stale bytes (an empty page gives a page of zeros).
  const auto* page = static_cast<const unsigned char*>(buf);
  const std::size_t rowCountOffset =
      db_.header().isJet3() ? kJet3Layout.rowCount : kJet4Layout.rowCount;
  if (page[0] != kDataPage || Get32(page + kDataOwnerAt) != kLongValueOwner ||
      (pageRow & 0xFF) >= Get16(page + rowCountOffset))
    damaged("a long value cannot be found");
  return std::string(static_cast<const char*>(buf) + offset, length);
}

std::string JetTable::longValue(const unsigned char* header, std::size_t size) const {
  if (size == 0) return {};
  if (size < kLongValueHeader) damaged("a long value is cut short");
  std::uint32_t word = Get32(header);
  std::size_t length = word & kLongValueLengthMask;
  std::uint32_t pageRow = Get32(header + 4);

  if (word & kInlineLongValue) {
    return std::string(reinterpret_cast<const char*>(header + kLongValueHeader),
                       std::min(length, size - kLongValueHeader));
  }
  if (word & kSingleRowLongValue) {
    std::string data = lvalRow(pageRow);
    if (data.size() < length) damaged("a long value is cut short");
    data.resize(length);
    return data;
  }
  std::string data;
  std::set<std::uint32_t> seen;
  while (data.size() < length && pageRow != 0) {
    if (!seen.insert(pageRow).second) damaged("the pieces of a long value form a loop");
    std::string piece = lvalRow(pageRow);
    if (piece.size() < 4) damaged("a piece of a long value is cut short");
    pageRow = Get32(reinterpret_cast<const unsigned char*>(piece.data()));
    data.append(piece, 4, std::string::npos);
  }
  if (data.size() < length) damaged("a long value is cut short");
  data.resize(length);
  return data;
}

}  // namespace db::access::read
