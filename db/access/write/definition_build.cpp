#include "db/access/write/definition_build.h"

#include <algorithm>
#include <numeric>

#include "db/base/error.h"

namespace db::access::write {
namespace {

constexpr std::uint32_t kRealIndexMagic = 0x0783;
constexpr std::size_t kIndexColumnSlots = 10;

bool IsVariableType(int type) {
  return type == coltype::kText || type == coltype::kBinary || IsLongValueType(type);
}

void AppendName(Bytes& out, const std::u16string& name) {
  Append16(out, static_cast<std::uint32_t>(2 * name.size()));
  for (char16_t u : name) Append16(out, u);
}

}  // namespace

int FixedColumnSize(int type) {
  // The fixed-size types a new table can have (no replication ids, decimals or big integers).
  constexpr int kCreatable[] = {coltype::kByte,    coltype::kInteger,  coltype::kLong,
                                coltype::kSingle,  coltype::kCurrency, coltype::kDouble,
                                coltype::kDateTime};
  return std::ranges::find(kCreatable, type) != std::end(kCreatable)
             ? static_cast<int>(ValueSize(type))
             : 0;
}

bool IsLongValueType(int type) { return type == coltype::kMemo || type == coltype::kOle; }

Bytes BuildTableDef(std::size_t pageSize, const NewTableDef& table) {
  const std::size_t count = table.columns.size();
  if (count == 0 || count > 255) throw Error(errc::kFailed, "A table needs 1 to 255 columns.");

  std::vector<Bytes> entries;
  int fixedOffset = 0;
  int varCount = 0;
  std::size_t longValues = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const NewColumnDef& c = table.columns[i];
    bool variable = IsVariableType(c.type);
    if (!variable && c.type != coltype::kBoolean && FixedColumnSize(c.type) == 0)
      throw Error(errc::kNotSupported, "Creating a column of this type is not supported.");
    if (IsLongValueType(c.type)) ++longValues;
    Bytes e(kColumnEntry, 0);
    e[kColumnTypeAt] = static_cast<unsigned char>(c.type);
    Put32(&e[1], kMagic0659);
    Put16(&e[kColumnNumberAt], static_cast<std::uint32_t>(i));
    Put16(&e[kColumnVarSlotAt], static_cast<std::uint32_t>(varCount));
    Put16(&e[kColumnIndexAt], table.system ? 0 : static_cast<std::uint32_t>(i));
    Put16(&e[kColumnSortOrderAt], kGeneralSortOrder);
    e[kColumnFlagsAt] =
        static_cast<unsigned char>((variable ? 0x02 : 0x03) | (table.system ? 0x10 : 0));
    bool text = c.type == coltype::kText || c.type == coltype::kMemo;
    e[kColumnExtFlagsAt] = text && c.compressed ? 0x01 : 0x00;
    if (variable) {
      int length = c.type == coltype::kText     ? 2 * c.length
                   : c.type == coltype::kBinary ? c.length
                                                : 0;
      if (length < 0 || length > 0xFFFF) throw Error(errc::kFailed, "A column is too long.");
      Put16(&e[kColumnLengthAt], static_cast<std::uint32_t>(length));
      ++varCount;
    } else if (c.type == coltype::kBoolean) {
      Put16(&e[kColumnLengthAt], 1);
    } else {
      Put16(&e[kColumnFixedOffsetAt], static_cast<std::uint32_t>(fixedOffset));
      Put16(&e[kColumnLengthAt], static_cast<std::uint32_t>(FixedColumnSize(c.type)));
      fixedOffset += FixedColumnSize(c.type);
    }
    entries.push_back(std::move(e));
  }
  if (table.longValueMaps.size() != longValues)
    throw Error(errc::kFailed, "Every long-value column needs its page maps.");

  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), 0);
  if (table.entriesByName)
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return table.columns[a].name < table.columns[b].name;
    });

  const auto indexCount = static_cast<std::uint32_t>(table.indexes.size());
  Bytes def(kDefHeader, 0);
  def[0] = kDefinitionPage;
  def[1] = kPageMark;
  Put32(&def[kDefMagicAt], kMagic0659);
  def[24] = 0x01;
  def[kDefTableTypeAt] = table.system ? kSystemTable : kUserTable;
  Put16(&def[kDefMaxColumnsAt], static_cast<std::uint32_t>(count));
  Put16(&def[kDefVarColumnsAt], static_cast<std::uint32_t>(varCount));
  Put16(&def[kDefColumnCountAt], static_cast<std::uint32_t>(count));
  Put32(&def[kDefIndexCountAt], indexCount);
  Put32(&def[kDefRealIndexCountAt], indexCount);
  Put32(&def[kDefOwnedMapAt], table.owned.packed());
  Put32(&def[kDefFreeMapAt], table.freeSpace.packed());
  def.resize(def.size() + kRealIndexHead * indexCount, 0);
  for (std::size_t i : order) def.insert(def.end(), entries[i].begin(), entries[i].end());
  for (std::size_t i : order) AppendName(def, table.columns[i].name);

  // One real index per logical index, numbered alike.
  for (const NewIndexDef& index : table.indexes) {
    if (index.parts.empty() || index.parts.size() > kIndexColumnSlots)
      throw Error(errc::kFailed, "An index needs 1 to 10 columns.");
    Bytes e(kRealIndexEntry, 0);
    Put32(&e[0], kRealIndexMagic);
    for (std::size_t k = 0; k < kIndexColumnSlots; ++k) {
      unsigned char* slot = &e[4 + 3 * k];
      if (k < index.parts.size()) {
        if (index.parts[k].column < 0 || static_cast<std::size_t>(index.parts[k].column) >= count)
          throw Error(errc::kFailed, "An index names a column the table does not have.");
        Put16(slot, static_cast<std::uint32_t>(index.parts[k].column));
        slot[2] = index.parts[k].ascending ? 0x01 : 0x02;
      } else {
        Put16(slot, 0xFFFF);
      }
    }
    Put32(&e[34], index.pageMap.packed());
    Put32(&e[38], index.firstPage);
    e[46] = index.flags;
    def.insert(def.end(), e.begin(), e.end());
  }
  for (std::uint32_t i = 0; i < indexCount; ++i) {
    Bytes e(kIndexEntry, 0);
    Put32(&e[0], kMagic0659);
    Put32(&e[4], i);
    Put32(&e[8], i);
    Put32(&e[13], 0xFFFFFFFF);
    e[21] = 0x04;
    e[22] = 0x04;
    e[23] = table.indexes[i].primaryKey ? 0x01 : 0x00;
    def.insert(def.end(), e.begin(), e.end());
  }
  for (const NewIndexDef& index : table.indexes) AppendName(def, index.name);
  std::size_t lv = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!IsLongValueType(table.columns[i].type)) continue;
    Append16(def, static_cast<std::uint32_t>(i));
    Append32(def, table.longValueMaps[lv].first.packed());
    Append32(def, table.longValueMaps[lv].second.packed());
    ++lv;
  }
  FinishDefinitionPage(def, pageSize);
  return def;
}

void WriteIndexRowCounts(PageIo& io, std::uint32_t page, std::uint32_t rows) {
  Bytes data = io.readPage(page);
  std::uint32_t realIndexes = Get32(&data[kDefRealIndexCountAt]);
  for (std::uint32_t i = 0; i < realIndexes && kDefHeader + kRealIndexHead * (i + 1) <= data.size();
       ++i)
    Put32(&data[kDefHeader + kRealIndexHead * i + 4], rows);
  io.writePage(page, data);
}

}  // namespace db::access::write
