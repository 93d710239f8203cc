#include "db/access/write/data_page.h"

#include <algorithm>

#include "db/base/error.h"
#include "db/access/write/page_claims.h"

namespace db::access::write {
namespace {

[[noreturn]] void DamagedFile(const std::string& what) { throw DamagedFileError(what); }

[[noreturn]] void BadRow(const std::string& what) { DamagedFile(what); }

void SetFreeSpace(Bytes& page, std::size_t free) {
  Put16(&page[kDataFreeBytesAt], static_cast<std::uint32_t>(free));
}

// Where the row starts begin and the row count lies: by the page's size (pages.h).
std::size_t Header(const Bytes& page) { return PagesOfSize(page.size()).dataHeader; }
std::size_t RowCountAt(const Bytes& page) { return PagesOfSize(page.size()).dataRowCountAt; }

std::uint16_t RowWord(const Bytes& page, unsigned row) {
  return Get16(&page[Header(page) + 2 * row]);
}

// Where the rows begin: the start of the last row (rows lie in row order), the page end when
// there is none.
std::size_t RowsStart(const Bytes& page) {
  unsigned n = DataRowCount(page);
  return n == 0 ? page.size() : RowWord(page, n - 1) & kRowOffsetMask;
}

// Lays rows out from the page end in row order; a deleted row keeps its number and state.
void LayOutRows(Bytes& page, const std::vector<Bytes>& rows,
                const std::vector<std::uint16_t>& flags) {
  auto n = static_cast<unsigned>(rows.size());
  std::size_t top = page.size();
  const std::size_t header = Header(page);
  std::fill(page.begin() + static_cast<std::ptrdiff_t>(header), page.end(), 0);
  Put16(&page[RowCountAt(page)], n);
  for (unsigned r = 0; r < n; ++r) {
    top -= rows[r].size();
    std::copy(rows[r].begin(), rows[r].end(), page.begin() + static_cast<std::ptrdiff_t>(top));
    Put16(&page[header + 2 * r], static_cast<std::uint32_t>(top) | flags[r]);
  }
  SetFreeSpace(page, top - header - 2 * n);
}

}  // namespace

Bytes NewDataPage(std::size_t pageSize, std::uint32_t owner) {
  Bytes page(pageSize, 0);
  page[0] = kDataPage;
  page[1] = kPageMark;
  SetFreeSpace(page, pageSize - PagesOfSize(pageSize).dataHeader);
  Put32(&page[kDataOwnerAt], owner);
  return page;
}

unsigned DataRowCount(const Bytes& page) { return Get16(&page[RowCountAt(page)]); }
std::uint32_t DataPageOwner(const Bytes& page) { return Get32(&page[kDataOwnerAt]); }
std::size_t DataFreeSpace(const Bytes& page) { return Get16(&page[kDataFreeBytesAt]); }
std::size_t MaxRowSize(std::size_t pageSize) {
  return pageSize - PagesOfSize(pageSize).dataHeader - 2;
}

RowSlot DataRowSlot(const Bytes& page, unsigned row) {
  unsigned n = DataRowCount(page);
  const std::size_t header = Header(page);
  if (row >= n || header + 2 * n > page.size()) BadRow("no such row on its page");
  std::uint16_t word = RowWord(page, row);
  RowSlot slot;
  slot.start = word & kRowOffsetMask;
  slot.flags = word & kRowFlags;
  slot.end = row == 0 ? page.size() : RowWord(page, row - 1) & kRowOffsetMask;
  if (slot.start < header + 2 * n || slot.start > slot.end || slot.end > page.size())
    BadRow("a row lies outside its page");
  return slot;
}

void CheckDataPage(const Bytes& page) {
  unsigned n = DataRowCount(page);
  const std::size_t header = Header(page);
  if (header + 2 * n > page.size() || n > kMaxRowsPerPage + 1)
    DamagedFile("a data page claims more rows than it holds");
  std::size_t end = page.size();
  for (unsigned r = 0; r < n; ++r) {
    std::size_t start = RowWord(page, r) & kRowOffsetMask;
    if (start < header + 2 * n || start > end)
      DamagedFile("a row of a data page lies outside its place");
    end = start;
  }
  // The free space Access records is the gap between the row table and the lowest row; a page
  // whose count disagrees has lost its row count or its rows.
  if (DataFreeSpace(page) != end - (header + 2 * n))
    DamagedFile("a data page's free space disagrees with its rows");
}

RowRef MovedRowData(const Bytes& page, unsigned row) {
  RowSlot slot = DataRowSlot(page, row);
  if (!slot.moved() || slot.size() < 4) BadRow("a moved row cannot be followed");
  const unsigned char* at = &page[slot.start];
  return RowRef{Get24(at + 1), at[0]};
}

void CompactDataPage(Bytes& page) {
  CheckDataPage(page);
  unsigned n = DataRowCount(page);
  std::vector<Bytes> rows(n);
  std::vector<std::uint16_t> flags(n);
  for (unsigned r = 0; r < n; ++r) {
    RowSlot slot = DataRowSlot(page, r);
    flags[r] = slot.flags;
    // A deleted row 0 keeps its bytes: without them its start would be the page end, outside
    // the page.
    if (!slot.deleted() || r == 0)
      rows[r].assign(page.begin() + static_cast<std::ptrdiff_t>(slot.start),
                     page.begin() + static_cast<std::ptrdiff_t>(slot.end));
  }
  LayOutRows(page, rows, flags);
}

std::optional<unsigned> InsertDataRow(Bytes& page, const Bytes& row) {
  CheckDataPage(page);
  unsigned n = DataRowCount(page);
  if (n >= kMaxRowsPerPage) return std::nullopt;
  std::size_t tableEnd = Header(page) + 2 * (n + 1);
  std::size_t rowsStart = RowsStart(page);
  if (rowsStart < tableEnd + row.size()) {
    // No room below the rows: the bytes of deleted rows may make it.
    std::size_t reclaimable = 0;
    for (unsigned r = 1; r < n; ++r) {
      RowSlot slot = DataRowSlot(page, r);
      if (slot.deleted()) reclaimable += slot.size();
    }
    if (rowsStart + reclaimable < tableEnd + row.size()) return std::nullopt;
    CompactDataPage(page);
    rowsStart = RowsStart(page);
  }
  std::size_t start = rowsStart - row.size();
  std::copy(row.begin(), row.end(), page.begin() + static_cast<std::ptrdiff_t>(start));
  Put16(&page[Header(page) + 2 * n], static_cast<std::uint32_t>(start));
  Put16(&page[RowCountAt(page)], n + 1);
  SetFreeSpace(page, start - tableEnd);
  return n;
}

void DeleteDataRow(Bytes& page, unsigned row) {
  CheckDataPage(page);
  DataRowSlot(page, row);  // checks it
  unsigned char* at = &page[Header(page) + 2 * row];
  // Access sets both flags on a row it deletes; libmdb and mdb-reader skip a row only by the
  // second, Access and our reader by the first.
  Put16(at, Get16(at) | kRowDeleted);
}

bool DataPageEmpty(const Bytes& page) {
  unsigned n = DataRowCount(page);
  for (unsigned r = 0; r < n; ++r)
    if ((RowWord(page, r) & kRowFlags) != kRowDeleted) return false;
  return true;
}

namespace {

// The end of a Jet 3 row, after its variable data: the starts `starts` (the end of the data
// last) one byte each in reverse order, the jump table, the variable column count and `mask`.
// See db/access/format/definition.h.
void AppendJet3RowEnd(Bytes& row, const std::vector<std::size_t>& starts, unsigned varCount,
                      const Bytes& mask) {
  const std::size_t dataEnd = starts.back();
  const std::size_t tail = (varCount > 0 ? starts.size() : 0) + 1 + mask.size();
  // The jump table's size depends on the row's, which includes it.
  std::size_t jumps = 0;
  while ((dataEnd + tail + jumps - 1) / 256 != jumps) ++jumps;
  // Readers take at most the last entry for one that marks no start.
  if (varCount > 0 ? dataEnd / 256 + 1 < jumps : jumps > 0)
    throw Error(errc::kFailed, "The record is too large.");
  if (varCount > 0)
    for (std::size_t k = starts.size(); k-- > 0;) row.push_back(starts[k] & 0xFF);
  for (std::size_t j = jumps; j-- > 0;) {
    unsigned char first = 0xFF;
    for (std::size_t k = 0; k < starts.size(); ++k)
      if (starts[k] >= 256 * (j + 1)) {
        first = static_cast<unsigned char>(k);
        break;
      }
    row.push_back(first);
  }
  row.push_back(static_cast<unsigned char>(varCount));
  row.insert(row.end(), mask.begin(), mask.end());
}

}  // namespace

Bytes EncodeRow(const std::vector<RowColumn>& columns, const std::vector<RowValue>& values,
                unsigned columnCount, unsigned varCount, bool jet3) {
  // The fixed values follow the column count: 2 bytes, 1 in Jet 3.
  const std::size_t fixedAt = jet3 ? 1 : 2;
  if (jet3 && (columnCount > 0xFF || varCount > 0xFF))
    throw Error(errc::kFailed, "The record has too many columns.");
  std::size_t fixedEnd = fixedAt;
  for (const RowColumn& c : columns)
    if (c.fixed && !c.boolean)
      fixedEnd = std::max<std::size_t>(fixedEnd, fixedAt + c.fixedOffset + c.length);
  Bytes row(fixedEnd, 0);
  if (jet3)
    row[0] = static_cast<unsigned char>(columnCount);
  else
    Put16(&row[0], columnCount);
  Bytes mask((columnCount + 7) / 8, 0);
  std::vector<const Bytes*> varValues(varCount, nullptr);

  for (std::size_t i = 0; i < columns.size(); ++i) {
    const RowColumn& c = columns[i];
    const RowValue& v = values.at(i);
    if (c.boolean) {
      if (v && !v->empty() && (*v)[0]) mask[c.number / 8] |= 1u << (c.number % 8);
      continue;
    }
    if (!v) continue;
    mask[c.number / 8] |= 1u << (c.number % 8);
    if (c.fixed) {
      std::copy_n(v->begin(), std::min<std::size_t>(v->size(), c.length),
                  &row[fixedAt + c.fixedOffset]);
    } else {
      varValues.at(c.varIndex) = &*v;
    }
  }
  std::vector<std::size_t> starts(varCount);
  for (unsigned k = 0; k < varCount; ++k) {
    starts[k] = row.size();
    if (varValues[k]) row.insert(row.end(), varValues[k]->begin(), varValues[k]->end());
  }
  if (jet3) {
    starts.push_back(row.size());  // the end of the variable data
    AppendJet3RowEnd(row, starts, varCount, mask);
    return row;
  }
  if (varCount > 0) {
    Append16(row, static_cast<std::uint32_t>(row.size()));  // end of the variable data
    for (unsigned k = varCount; k-- > 0;) Append16(row, static_cast<std::uint32_t>(starts[k]));
  }
  Append16(row, varCount);
  row.insert(row.end(), mask.begin(), mask.end());
  return row;
}

std::vector<RowValue> DecodeRow(const std::vector<RowColumn>& columns, const unsigned char* row,
                                std::size_t size, bool jet3) {
  // The numbers of the row: 16 bits wide, 8 in Jet 3.
  const std::size_t width = jet3 ? 1 : 2;
  if (size < (jet3 ? 3 : 5)) BadRow("a row is too short");
  unsigned stored = jet3 ? row[0] : Get16(row);
  std::size_t maskSize = (stored + 7) / 8;
  if (maskSize + 2 * width > size) BadRow("a row's null mask lies outside it");
  const unsigned char* mask = row + size - maskSize;
  unsigned varCount = jet3 ? mask[-1] : Get16(mask - 2);
  std::size_t tableStart = size - maskSize - width;
  std::vector<std::size_t> starts;  // of the variable values, then the end of the data
  if (jet3 && varCount > 0) {
    std::size_t jumps = (size - 1) / 256;
    if (jumps + varCount + 1 > tableStart) BadRow("a row's offset table lies outside it");
    const std::size_t jumpsAt = tableStart - jumps;  // entry j at jumpsAt + jumps - 1 - j
    const std::size_t lastStart = jumpsAt - 1;       // start k at lastStart - k
    // A last entry that marks no start: the end of the data lies below what it would mark.
    if ((lastStart - varCount) / 256 < jumps) --jumps;
    std::size_t used = 0;
    for (unsigned k = 0; k <= varCount; ++k) {
      while (used < jumps && row[tableStart - 1 - used] == k) ++used;
      starts.push_back(row[lastStart - k] + 256 * used);
    }
    tableStart = lastStart - varCount;
  } else if (varCount > 0) {
    if (2 * (varCount + 1) > tableStart) BadRow("a row's offset table lies outside it");
    tableStart -= 2 * (varCount + 1);
    for (unsigned k = 0; k <= varCount; ++k)
      starts.push_back(Get16(row + size - maskSize - 2 - 2 * (k + 1)));
  }
  auto varStart = [&](unsigned k) -> std::size_t { return starts[k]; };
  const std::size_t fixedAt = width;

  std::vector<RowValue> values;
  for (const RowColumn& c : columns) {
    bool present =
        c.number < static_cast<int>(stored) && (mask[c.number / 8] >> (c.number % 8)) & 1;
    if (c.boolean) {
      values.emplace_back(Bytes{static_cast<unsigned char>(present ? 1 : 0)});
      continue;
    }
    if (!present) {
      values.emplace_back(std::nullopt);
      continue;
    }
    if (c.fixed) {
      std::size_t at = fixedAt + c.fixedOffset;
      if (at + c.length > tableStart) BadRow("a fixed value lies outside its row");
      values.emplace_back(Bytes(row + at, row + at + c.length));
      continue;
    }
    if (c.varIndex >= static_cast<int>(varCount)) {
      values.emplace_back(std::nullopt);
      continue;
    }
    std::size_t s = varStart(c.varIndex), e = varStart(c.varIndex + 1);
    if (s > e || e > tableStart) BadRow("a variable value lies outside its row");
    values.emplace_back(Bytes(row + s, row + e));
  }
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (values[i] && values[i]->size() < columns[i].minSize)
      BadRow("a value is shorter than its column's type");
  return values;
}

}  // namespace db::access::write
