// Test support for the index tests: an Access file's pages in memory, and the facts of its
// catalogue table (MSysObjects, definition on page 2) read straight from the pages.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/access/format/bytes.h"
#include "db/access/format/page_io.h"

namespace indextest {

inline std::uint32_t Le16(const unsigned char* p) { return db::access::format::Get16(p); }
inline std::uint32_t Le32(const unsigned char* p) { return db::access::format::Get32(p); }

// Pages of 4096 bytes held in memory; counts writes.
class MemoryPageIo : public db::access::format::PageIo {
 public:
  explicit MemoryPageIo(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}
  static MemoryPageIo FromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return MemoryPageIo(std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {}));
  }
  std::size_t pageSize() const override { return 4096; }
  std::uint32_t pageCount() const override {
    return static_cast<std::uint32_t>(bytes_.size() / 4096);
  }
  std::vector<unsigned char> readPage(std::uint32_t page) const override {
    if (page >= pageCount()) throw std::out_of_range("page");
    return {bytes_.begin() + page * 4096L, bytes_.begin() + (page + 1) * 4096L};
  }
  void writePage(std::uint32_t page, const std::vector<unsigned char>& data) override {
    if (page >= pageCount() || data.size() != 4096) throw std::out_of_range("page");
    std::copy(data.begin(), data.end(), bytes_.begin() + page * 4096L);
    ++writes;
  }
  std::uint32_t appendPage(const std::vector<unsigned char>& data) override {
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return pageCount() - 1;
  }
  const unsigned char* page(std::uint32_t n) const { return bytes_.data() + n * 4096L; }
  int writes = 0;

 private:
  std::vector<unsigned char> bytes_;
};

struct CatalogColumn {
  std::string name;
  int type = 0;
  int number = 0;
  int varIndex = 0;
  int fixedOffset = 0;
  bool fixed = false;
  std::uint16_t sortOrder = 0;
  std::uint8_t sortVersion = 0;
};

struct CatalogIndex {
  std::vector<int> columns;  // column numbers
  std::uint32_t root = 0;
};

// The catalogue table's definition (single page in every fixture).
struct CatalogDefinition {
  std::vector<CatalogColumn> columns;
  std::vector<CatalogIndex> indexes;
  const CatalogColumn& column(const std::string& name) const {
    for (const auto& c : columns)
      if (c.name == name) return c;
    throw std::runtime_error("no column " + name);
  }
};

inline std::string Utf16ToUtf8(const unsigned char* p, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    unsigned c = p[i] | (p[i + 1] << 8);
    if (c < 0x80)
      out += static_cast<char>(c);
    else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Stored text: plain UTF-16LE, or FF FE then runs that switch at each 00 between one byte per
// character and two.
inline std::string StoredText(const unsigned char* p, std::size_t size) {
  if (size < 2 || p[0] != 0xFF || p[1] != 0xFE) return Utf16ToUtf8(p, size);
  std::vector<unsigned char> wide;
  bool compressed = true;
  for (std::size_t i = 2; i < size;) {
    if (p[i] == 0) {
      compressed = !compressed;
      ++i;
      continue;
    }
    if (compressed) {
      wide.push_back(p[i]);
      wide.push_back(0);
      ++i;
    } else if (i + 1 < size) {
      wide.push_back(p[i]);
      wide.push_back(p[i + 1]);
      i += 2;
    } else
      break;
  }
  return Utf16ToUtf8(wide.data(), wide.size());
}

inline CatalogDefinition ReadCatalogDefinition(const MemoryPageIo& io) {
  const unsigned char* t = io.page(2);
  CatalogDefinition def;
  int columnCount = static_cast<int>(Le16(t + 45));
  int realIndexes = static_cast<int>(Le32(t + 51));
  std::size_t at = 63 + 12 * realIndexes;
  for (int i = 0; i < columnCount; ++i, at += 25) {
    CatalogColumn c;
    c.type = t[at];
    c.number = static_cast<int>(Le16(t + at + 5));
    c.varIndex = static_cast<int>(Le16(t + at + 7));
    c.sortOrder = static_cast<std::uint16_t>(Le16(t + at + 11));
    c.sortVersion = t[at + 14];
    c.fixed = t[at + 15] & 0x01;
    c.fixedOffset = static_cast<int>(Le16(t + at + 21));
    def.columns.push_back(c);
  }
  for (auto& c : def.columns) {
    std::size_t len = Le16(t + at);
    c.name = Utf16ToUtf8(t + at + 2, len);
    at += 2 + len;
  }
  for (int i = 0; i < realIndexes; ++i, at += 52) {
    CatalogIndex index;
    for (int k = 0; k < 10; ++k) {
      std::uint32_t col = Le16(t + at + 4 + 3 * k);
      if (col != 0xFFFF) index.columns.push_back(static_cast<int>(col));
    }
    index.root = Le32(t + at + 38);
    def.indexes.push_back(index);
  }
  return def;
}

// The bytes of one column of a row of a data page, empty for Null or a missing column.
struct RowReader {
  const unsigned char* row = nullptr;
  std::size_t size = 0;

  RowReader(const MemoryPageIo& io, std::uint32_t page, int rowNumber) {
    const unsigned char* p = io.page(page);
    std::uint32_t start = Le16(p + 14 + 2 * rowNumber) & 0x1FFF;
    std::uint32_t end = rowNumber == 0 ? 4096 : Le16(p + 14 + 2 * (rowNumber - 1)) & 0x1FFF;
    row = p + start;
    size = end - start;
  }
  bool isNull(const CatalogColumn& c) const {
    std::size_t columns = Le16(row);
    std::size_t maskSize = (columns + 7) / 8;
    const unsigned char* mask = row + size - maskSize;
    return !(mask[c.number / 8] & (1 << (c.number % 8)));
  }
  std::int32_t fixedLong(const CatalogColumn& c) const {
    return static_cast<std::int32_t>(Le32(row + 2 + c.fixedOffset));
  }
  std::string text(const CatalogColumn& c) const {
    std::size_t columns = Le16(row);
    std::size_t maskSize = (columns + 7) / 8;
    const unsigned char* varCount = row + size - maskSize - 2;
    std::size_t vars = Le16(varCount);
    auto offset = [&](std::size_t i) { return Le16(varCount - 2 * (i + 1)); };
    std::size_t from = offset(c.varIndex);
    std::size_t to = static_cast<std::size_t>(c.varIndex) + 1 < vars ? offset(c.varIndex + 1)
                                                                     : offset(vars);  // end of data
    return StoredText(row + from, to - from);
  }
};

}  // namespace indextest
