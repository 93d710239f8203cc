#include "db/access/check/checker.h"

#include <QString>
#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "db/access/format/bytes.h"
#include "db/access/format/catalog.h"
#include "db/access/format/definition.h"
#include "db/access/format/encryption.h"
#include "db/access/format/header.h"
#include "db/access/format/index_page.h"
#include "db/access/format/pages.h"
#include "db/access/format/text.h"
#include "db/base/names.h"

namespace db::access::check {
namespace {

// The checker names the format's facts as db/access/format/ does, and reads numbers with its
// codecs, but works out everything else on its own: it must not share the writer's mistakes.
using namespace db::access::format;

constexpr unsigned char kUniqueIndex = 0x01, kIgnoreNulls = 0x02;  // index flags

std::string N(std::uint64_t n) { return std::to_string(n); }

// Text as Jet 4 stores it: UTF-16LE, or the compressed form that starts with FF FE; as Jet 3
// stores it (a non-zero `codePage`): the bytes of that code page.
std::string TextAsUtf8(const unsigned char* p, std::size_t size, std::uint16_t codePage = 0) {
  if (codePage != 0)
    return QString::fromStdU16String(DecodeCodePageText(p, size, codePage)).toStdString();
  std::u16string units;
  if (size >= 2 && p[0] == kCompressedTextMark[0] && p[1] == kCompressedTextMark[1]) {
    bool compressed = true;
    for (std::size_t i = 2; i < size;) {
      if (p[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        units += static_cast<char16_t>(p[i++]);
      } else if (i + 1 < size) {
        units += static_cast<char16_t>(Get16(p + i));
        i += 2;
      } else {
        break;
      }
    }
  } else {
    for (std::size_t i = 0; i + 1 < size; i += 2) units += static_cast<char16_t>(Get16(p + i));
  }
  return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())).toStdString();
}

struct RowSpan {
  std::uint32_t start = 0, end = 0;
  std::uint16_t flags = 0;
  bool live() const { return !(flags & kRowSkipBit); }
  bool moved() const { return live() && (flags & kRowMoved); }
  // The data of a moved row: skipped by a scan, read through the moved row. libmdb and
  // mdb-reader read such a row in a scan (and skip the moved row), so it must hold the data.
  bool movedData() const { return flags == kRowMovedData; }
};

struct Column {
  int type = 0, number = 0, varSlot = 0, fixedOffset = 0, length = 0, flags = 0;
  std::string name;
};

struct RealIndex {
  std::vector<int> columns;
  std::uint32_t map = 0, root = 0;
  unsigned char flags = 0;
};

struct LongValueMaps {
  int column = 0;
  std::uint32_t own = 0, free = 0;
};

struct TableDef {
  std::string name;
  std::uint32_t page = 0;
  std::vector<std::uint32_t> chain;
  std::uint32_t rowCount = 0;
  int maxColumns = 0, varColumns = 0;
  std::vector<Column> columns;
  std::vector<RealIndex> indexes;
  std::uint32_t ownMap = 0, freeMap = 0;
  std::vector<LongValueMaps> longValueMaps;
};

struct CatalogRow {
  std::uint32_t id = 0;
  int type = 0;
  std::string name;
};

class Checker {
 public:
  Checker(const PageIo& io, JetCheckReport& report, const std::string& password)
      : io_(io),
        report_(report),
        password_(password),
        pageSize_(io.pageSize()),
        layout_(PagesOfSize(io.pageSize())),
        def_(DefinitionLayoutOf(io.pageSize())),
        index_(IndexPagesOfSize(io.pageSize())) {}

  void run() {
    if (!loadPages()) return;
    readFreeMap();
    for (std::uint32_t p = 0; p < 2; ++p) own(p, "the file header and free map");
    checkPageTypes();
    checkDataPages();

    std::optional<TableDef> catalog = readTable(kCatalogPage, kCatalogName);
    if (!catalog) return;
    checkTable(*catalog);
    std::vector<CatalogRow> rows = readCatalog(*catalog);
    checkCatalog(rows);
    checkMovedData();
    checkOwnership();
  }

 private:
  void problem(const std::string& text) { report_.problems.push_back(text); }

  // ---- pages ---------------------------------------------------------------------------------

  bool loadPages() {
    if (io_.pageSize() != kPageSize && io_.pageSize() != kJet3PageSize) {
      problem("page size " + N(io_.pageSize()) + " is not that of an Access file");
      return false;
    }
    std::uint32_t count = io_.pageCount();
    if (count < 3) {
      problem("the file holds " + N(count) + " pages, too few for a catalogue");
      return false;
    }
    pages_.reserve(count);
    for (std::uint32_t p = 0; p < count; ++p) {
      pages_.push_back(io_.readPage(p));
      if (pages_.back().size() != pageSize_) {
        problem("page " + N(p) + " is not a whole page");
        return false;
      }
    }
    std::optional<JetHeader> header = ParseJetHeader(pages_[0].data(), pages_[0].size());
    if (!header) {
      problem("page 0 is not the header of an Access file");
      return false;
    }
    if (header->isJet3() != layout_.jet3) {
      problem("the file is not a Jet 3, Jet 4 or ACE file of its page size");
      return false;
    }
    codePage_ = header->isJet3() ? header->codePage : 0;
    // Pages encoded with the database key or encrypted with the password are checked plain.
    std::unique_ptr<PageCodec> codec;
    try {
      codec = OpenPageCodec(*header, pages_[0].data(), pages_[0].size(), password_);
    } catch (const EncryptionError& e) {
      problem(std::string("the pages cannot be decoded: ") + e.what());
      return false;
    }
    if (codec)
      for (std::uint32_t p = 1; p < count; ++p) codec->decode(p, pages_[p]);
    return true;
  }

  bool hasPage(std::uint64_t p) const { return p < pages_.size(); }
  const PageLayout& pages() const { return layout_; }
  unsigned rowCount(std::uint32_t p) const { return Get16(&page(p)[layout_.dataRowCountAt]); }
  const Bytes& page(std::uint32_t p) const { return pages_[p]; }
  unsigned char typeOf(std::uint32_t p) const { return pages_[p][0]; }

  void checkPageTypes() {
    for (std::uint32_t p = 1; p < pages_.size(); ++p) {
      unsigned char t = typeOf(p);
      if (t == kDataPage || t == kDefinitionPage || t == kIndexNodePage || t == kIndexLeafPage ||
          t == kMapPage || t == kReleasedDefinitionPage || t == kReleasedLongValuePage)
        continue;
      bool zero = std::all_of(page(p).begin(), page(p).end(), [](unsigned char b) { return !b; });
      if (!zero) problem("page " + N(p) + " has the unknown type " + N(t));
    }
  }

  // Row `row` of data page `p`, or nothing (with a problem) when it is out of bounds.
  std::optional<RowSpan> rowOf(std::uint32_t p, unsigned row) const {
    const Bytes& b = page(p);
    const std::size_t header = pages().dataHeader;
    unsigned count = rowCount(p);
    if (row >= count || header + 2 * count > pageSize_) return std::nullopt;
    RowSpan span;
    std::uint32_t raw = Get16(&b[header + 2 * row]);
    span.flags = static_cast<std::uint16_t>(raw & ~kRowOffsetMask);
    span.start = raw & kRowOffsetMask;
    span.end = row == 0 ? static_cast<std::uint32_t>(pageSize_)
                        : (Get16(&b[header + 2 * (row - 1)]) & kRowOffsetMask);
    if (span.start < header + 2 * count || span.start > span.end || span.end > pageSize_)
      return std::nullopt;
    return span;
  }

  void checkDataPages() {
    for (std::uint32_t p = 1; p < pages_.size(); ++p) {
      if (typeOf(p) != kDataPage || isFree(p)) continue;
      const Bytes& b = page(p);
      unsigned count = rowCount(p);
      std::size_t tableEnd = pages().dataHeader + 2 * count;
      if (tableEnd > pageSize_) {
        problem("data page " + N(p) + " claims " + N(count) + " rows, more than fit");
        continue;
      }
      auto lowest = static_cast<std::uint32_t>(pageSize_);
      for (unsigned r = 0; r < count; ++r) {
        std::optional<RowSpan> span = rowOf(p, r);
        if (!span) {
          problem("data page " + N(p) + " row " + N(r) + " lies outside the page");
          continue;
        }
        if (span->live() && span->start == span->end)
          problem("data page " + N(p) + " row " + N(r) + " is empty");
        lowest = std::min(lowest, span->start);
      }
      std::size_t real = lowest >= tableEnd ? lowest - tableEnd : 0;
      if (Get16(&b[kDataFreeBytesAt]) != real)
        problem("data page " + N(p) + " says it has " + N(Get16(&b[kDataFreeBytesAt])) +
                " free bytes, it has " + N(real));
    }
  }

  // ---- maps ----------------------------------------------------------------------------------

  // The bytes of the map row named by `ref` (page << 8 | row), or nothing with a problem.
  std::optional<Bytes> mapRow(std::uint32_t ref, const std::string& what) {
    std::uint32_t p = ref >> 8;
    unsigned row = ref & 0xFF;
    if (!hasPage(p) || p == 0 || typeOf(p) != kDataPage) {
      problem(what + " names page " + N(p) + ", which is not a data page");
      return std::nullopt;
    }
    std::optional<RowSpan> span = rowOf(p, row);
    if (!span || !span->live() || span->end - span->start < 5) {
      problem(what + " names row " + N(row) + " of page " + N(p) + ", which holds no map");
      return std::nullopt;
    }
    own(p, "map rows");
    return Bytes(page(p).begin() + span->start, page(p).begin() + span->end);
  }

  // The pages a map lists, or nothing with a problem. Map pages of a reference map are owned.
  std::optional<std::set<std::uint32_t>> mapPages(std::uint32_t ref, const std::string& what) {
    std::optional<Bytes> m = mapRow(ref, what);
    if (!m) return std::nullopt;
    std::set<std::uint32_t> out;
    if ((*m)[0] == kInlineMap) {
      std::uint32_t first = Get32(&(*m)[1]);
      for (std::size_t bit = 0; bit < (m->size() - 5) * 8; ++bit)
        if ((*m)[kInlineMapBitmapAt + bit / 8] & (1u << (bit % 8)))
          out.insert(first + static_cast<std::uint32_t>(bit));
    } else if ((*m)[0] == kReferenceMap) {
      const std::size_t perPage = (pageSize_ - kMapPageBitmapAt) * 8;
      for (std::size_t k = 0; k < (m->size() - 1) / 4; ++k) {
        std::uint32_t mp = Get32(&(*m)[1 + 4 * k]);
        if (mp == 0) continue;
        if (!hasPage(mp) || typeOf(mp) != kMapPage) {
          problem(what + " names page " + N(mp) + " as a map page, which it is not");
          return std::nullopt;
        }
        // A map page serves one map row: a second map naming it would change the first.
        own(mp, "the map pages of the map in row " + N(ref & 0xFF) + " of page " + N(ref >> 8));
        for (std::size_t bit = 0; bit < perPage; ++bit)
          if (page(mp)[kMapPageBitmapAt + bit / 8] & (1u << (bit % 8)))
            out.insert(static_cast<std::uint32_t>(k * perPage + bit));
      }
    } else {
      problem(what + " has the unknown kind " + N((*m)[0]));
      return std::nullopt;
    }
    return out;
  }

  void readFreeMap() {
    std::optional<RowSpan> span = typeOf(1) == kDataPage ? rowOf(1, 0) : std::nullopt;
    if (!span || !span->live() || span->end - span->start < 5) {
      problem("page 1 holds no free map");
      return;
    }
    Bytes m(page(1).begin() + span->start, page(1).begin() + span->end);
    // As Access reads this map, a page the map does not reach (outside an inline map's window,
    // or in a stretch without a map page) is in use.
    if (m[0] == 0) {
      std::uint32_t first = Get32(&m[1]);
      std::size_t bits = (m.size() - 5) * 8;
      for (std::uint32_t p = 0; p < pages_.size(); ++p) {
        bool inWindow = p >= first && p - first < bits;
        if (inWindow && (m[kInlineMapBitmapAt + (p - first) / 8] & (1u << ((p - first) % 8))))
          free_.insert(p);
      }
    } else if (m[0] == 1) {
      const std::size_t perPage = (pageSize_ - kMapPageBitmapAt) * 8;
      for (std::uint32_t p = 0; p < pages_.size(); ++p) {
        std::size_t k = p / perPage, bit = p % perPage;
        std::uint32_t mp = 1 + 4 * k + 4 <= m.size() ? Get32(&m[1 + 4 * k]) : 0;
        if (mp == 0) {
          continue;
        } else if (!hasPage(mp) || typeOf(mp) != kMapPage) {
          problem("the free map names page " + N(mp) + " as a map page, which it is not");
          return;
        } else {
          own(mp, "the map pages of the free map");
          if (page(mp)[kMapPageBitmapAt + bit / 8] & (1u << (bit % 8))) free_.insert(p);
        }
      }
    } else {
      problem("the free map on page 1 has the unknown kind " + N(m[0]));
    }
    for (std::uint32_t p : {0u, 1u, kCatalogPage})
      if (isFree(p)) problem("the free map marks page " + N(p) + " free");
  }

  bool isFree(std::uint32_t p) const { return free_.count(p) != 0; }

  void own(std::uint32_t p, const std::string& owner) {
    auto [it, added] = owners_.emplace(p, owner);
    if (!added && it->second != owner)
      problem("page " + N(p) + " belongs to both " + it->second + " and " + owner);
  }

  void checkOwnership() {
    for (const auto& [p, owner] : owners_)
      if (hasPage(p) && isFree(p)) problem("page " + N(p) + " of " + owner + " is marked free");
    for (std::uint32_t p = 0; p < pages_.size(); ++p)
      if (!owners_.count(p) && !isFree(p)) report_.leakedPages.push_back(p);
  }

  // ---- table definitions ---------------------------------------------------------------------

  std::optional<TableDef> readTable(std::uint32_t first, const std::string& name) {
    std::string what = "table '" + name + "' (definition page " + N(first) + ")";
    TableDef def;
    def.name = name;
    def.page = first;
    Bytes bytes;
    for (std::uint32_t p = first; p != 0; p = Get32(&page(p)[kDefNextPageAt])) {
      if (!hasPage(p) || typeOf(p) != kDefinitionPage) {
        problem(what + ": its definition continues on page " + N(p) + ", not a definition page");
        return std::nullopt;
      }
      if (std::find(def.chain.begin(), def.chain.end(), p) != def.chain.end()) {
        problem(what + ": its definition pages form a loop");
        return std::nullopt;
      }
      def.chain.push_back(p);
      bytes.insert(bytes.end(), page(p).begin() + (bytes.empty() ? 0 : 8), page(p).end());
    }
    for (std::uint32_t p : def.chain) own(p, "the definition of " + what);

    auto fail = [&](const std::string& detail) {
      problem(what + ": " + detail);
      return std::nullopt;
    };
    auto need = [&](std::size_t end) { return end <= bytes.size(); };
    const DefinitionLayout& l = def_;
    if (!need(l.columnsStart)) return fail("its definition is cut short");
    def.rowCount = Get32(&bytes[l.tableRowCount]);
    def.maxColumns = static_cast<int>(Get16(&bytes[l.maxColumns]));
    def.varColumns = static_cast<int>(Get16(&bytes[l.varColumnCount]));
    unsigned columns = Get16(&bytes[l.columnCount]);
    std::uint32_t logical = Get32(&bytes[l.indexCount]), real = Get32(&bytes[l.realIndexCount]);
    def.ownMap = Get32(&bytes[l.usageMap]);
    def.freeMap = Get32(&bytes[l.freeMap]);
    if (columns == 0 || columns > 255) return fail("it has " + N(columns) + " columns");
    if (real > 64 || logical > 64 || real > logical)
      return fail("it has " + N(logical) + " indexes over " + N(real) + " index trees");
    std::size_t pos = l.columnsStart + l.realIndexEntry * real;
    if (!need(pos + l.columnEntry * columns)) return fail("its column definitions are cut short");
    std::set<int> numbers, varSlots;
    int varCount = 0;
    for (unsigned i = 0; i < columns; ++i, pos += l.columnEntry) {
      const unsigned char* e = &bytes[pos];
      Column c;
      c.type = e[kColumnTypeAt];
      c.number = static_cast<int>(Get16(e + l.columnNumber));
      c.varSlot = static_cast<int>(Get16(e + l.columnVarSlot));
      c.flags = e[l.columnFlags];
      c.fixedOffset = static_cast<int>(Get16(e + l.columnFixedOffset));
      c.length = static_cast<int>(Get16(e + l.columnLength));
      if (!numbers.insert(c.number).second || c.number >= def.maxColumns)
        return fail("column number " + N(c.number) + " is repeated or not below " +
                    N(def.maxColumns));
      if (c.flags & kFixedColumn) {
        if (c.fixedOffset + c.length > static_cast<int>(pageSize_))
          return fail("a fixed-length column lies outside a row");
      } else {
        ++varCount;
        if (!varSlots.insert(c.varSlot).second) return fail("two columns share a variable slot");
      }
      def.columns.push_back(c);
    }
    // The count in the definition keeps the variable columns deleted since.
    if (varCount > def.varColumns)
      return fail(N(varCount) + " variable columns, the definition says " + N(def.varColumns));
    // A name: its byte count in 2 bytes (1 in Jet 3), then its text.
    auto nameLength = [&](std::size_t at) -> std::optional<std::size_t> {
      if (!need(at + l.nameLengthSize)) return std::nullopt;
      std::size_t n = l.nameLengthSize == 1 ? bytes[at] : Get16(&bytes[at]);
      if (!need(at + l.nameLengthSize + n)) return std::nullopt;
      return n;
    };
    for (Column& c : def.columns) {
      std::optional<std::size_t> length = nameLength(pos);
      if (!length) return fail("its column names are cut short");
      c.name = TextAsUtf8(&bytes[pos + l.nameLengthSize], *length, codePage_);
      if (c.name.empty()) return fail("a column has no name");
      pos += l.nameLengthSize + *length;
    }
    // The flags of a real index: at 46 of its 52 bytes (42..45 hold nothing of use, Access
    // leaves junk there); at 38 of Jet 3's 39, its last byte.
    const std::size_t flagsAt = l.jet3 ? l.realIndexDefinition - 1 : 46;
    if (!need(pos + l.realIndexDefinition * real + l.indexEntry * logical))
      return fail("its index definitions are cut short");
    for (std::uint32_t i = 0; i < real; ++i, pos += l.realIndexDefinition) {
      RealIndex index;
      for (int k = 0; k < 10; ++k) {
        int number = static_cast<int>(Get16(&bytes[pos + l.realIndexColumnsAt + 3 * k]));
        if (number == 0xFFFF) continue;
        if (!numbers.count(number)) return fail("an index names the missing column " + N(number));
        index.columns.push_back(number);
      }
      index.map = Get32(&bytes[pos + l.realIndexMapAt]);
      index.root = Get32(&bytes[pos + l.realIndexFirstPageAt]);
      index.flags = bytes[pos + flagsAt];
      if (index.columns.empty()) return fail("an index has no columns");
      def.indexes.push_back(index);
    }
    // The logical index's real index: at 8 of its 28 bytes, 4 of Jet 3's 20.
    const std::size_t realAt = l.jet3 ? 4 : 8;
    for (std::uint32_t i = 0; i < logical; ++i, pos += l.indexEntry)
      if (Get32(&bytes[pos + realAt]) >= real) return fail("an index names a missing index tree");
    for (std::uint32_t i = 0; i < logical; ++i) {
      std::optional<std::size_t> length = nameLength(pos);
      if (!length) return fail("its index names are cut short");
      pos += l.nameLengthSize + *length;
    }
    for (;;) {
      if (!need(pos + 2)) return fail("its list of long-value maps is cut short");
      std::uint32_t number = Get16(&bytes[pos]);
      if (number == 0xFFFF) break;
      if (!need(pos + 10)) return fail("its list of long-value maps is cut short");
      def.longValueMaps.push_back(
          {static_cast<int>(number), Get32(&bytes[pos + 2]), Get32(&bytes[pos + 6])});
      pos += 10;
    }
    pos += 2;
    if (Get32(&bytes[kDefUsedBytesAt]) != pos)
      return fail("its definition is " + N(pos) + " bytes long, it says " +
                  N(Get32(&bytes[kDefUsedBytesAt])));
    return def;
  }

  // Checks a table's maps, data pages, row count and indexes.
  void checkTable(const TableDef& def) {
    std::string what = "table '" + def.name + "' (definition page " + N(def.page) + ")";
    std::optional<std::set<std::uint32_t>> own = mapPages(def.ownMap, what + "'s page map");
    std::optional<std::set<std::uint32_t>> freeSpace =
        mapPages(def.freeMap, what + "'s free-space map");
    if (!own) return;
    std::uint64_t rows = 0;
    for (std::uint32_t p : *own) {
      if (!hasPage(p) || typeOf(p) != kDataPage) {
        problem(what + "'s page map names page " + N(p) + ", which is not a data page");
        continue;
      }
      std::uint32_t owner = Get32(&page(p)[kDataOwnerAt]);
      if (owner == kLongValueOwner) {
        this->own(p, "the long values of " + what);
        continue;
      }
      if (owner != def.page) {
        problem(what + "'s page map names page " + N(p) + ", a data page of definition " +
                N(owner));
        continue;
      }
      this->own(p, "the rows of " + what);
      unsigned count = rowCount(p);
      for (unsigned r = 0; r < count; ++r) {
        std::optional<RowSpan> span = rowOf(p, r);
        if (span && span->movedData()) movedData_.emplace((p << 8) | r, what);
        if (!span || !span->live()) continue;
        ++rows;
        live_[def.page].insert((p << 8) | r);
        if (span->moved()) checkMovedRow(def, p, r, *span);
      }
    }
    if (freeSpace)
      for (std::uint32_t p : *freeSpace)
        if (!own->count(p))
          problem(what + "'s free-space map names page " + N(p) + ", which is not in its page map");
    // Access does not keep the row count of MSysAccessStorage (its store of forms and the
    // like) up to date.
    if (rows != def.rowCount && def.name != "MSysAccessStorage")
      problem(what + " says it has " + N(def.rowCount) + " rows, its pages hold " + N(rows));

    // Long-value pages listed by the table's maps (Jet 4 files may list them in its page map).
    std::set<std::uint32_t> listed;
    for (std::uint32_t p : *own)
      if (hasPage(p) && isLongValuePage(p)) listed.insert(p);
    for (const LongValueMaps& lv : def.longValueMaps) {
      std::string mapWhat = what + "'s long-value map of column " + N(lv.column);
      // A zero names no map (Jet 4 lists columns without long-value maps that way).
      if (lv.free != 0) mapPages(lv.free, mapWhat + " (free space)");
      if (lv.own == 0) continue;
      std::optional<std::set<std::uint32_t>> pages = mapPages(lv.own, mapWhat);
      if (!pages) continue;
      for (std::uint32_t p : *pages) {
        if (!hasPage(p) || !isLongValuePage(p)) {
          problem(mapWhat + " names page " + N(p) + ", which is not a long-value page");
        } else {
          this->own(p, "the long values of " + what);
          listed.insert(p);
        }
      }
    }
    checkLongValues(def, what, listed);
    for (std::size_t i = 0; i < def.indexes.size(); ++i) checkIndex(def, i, rows);
  }

  bool isLongValuePage(std::uint32_t p) const {
    return typeOf(p) == kDataPage && Get32(&page(p)[kDataOwnerAt]) == kLongValueOwner;
  }

  // The bytes of live row `ref` (page << 8 | row) of a table, its moved data followed; nothing
  // when it cannot be reached (the moved-row check reports that).
  std::optional<Bytes> liveRow(std::uint32_t ref) const {
    std::uint32_t p = ref >> 8;
    unsigned r = ref & 0xFF;
    std::optional<RowSpan> span = rowOf(p, r);
    if (span && span->moved()) {
      if (span->end - span->start < 4) return std::nullopt;
      const unsigned char* d = &page(p)[span->start];
      r = d[0];
      p = Get24(d + 1);
      span = hasPage(p) && typeOf(p) == kDataPage ? rowOf(p, r) : std::nullopt;
      if (!span || !span->movedData()) return std::nullopt;
    }
    if (!span) return std::nullopt;
    return Bytes(page(p).begin() + span->start, page(p).begin() + span->end);
  }

  // Every Memo and OLE value of the table's live rows: its header names rows of long-value
  // pages that exist, are live and are named by no other value; a chain ends, without coming
  // back to a row, after rows whose data adds up to the length in the header (mdb-reader and
  // libmdb stop at a row that would pass it); the pages lie in the table's maps, so that they
  // are the table's and leave with it.
  void checkLongValues(const TableDef& def, const std::string& what,
                       const std::set<std::uint32_t>& listed) {
    std::vector<const Column*> longColumns;
    for (const Column& c : def.columns)
      if (c.type == coltype::kMemo || c.type == coltype::kOle) longColumns.push_back(&c);
    if (longColumns.empty()) return;
    for (std::uint32_t ref : live_[def.page]) {
      std::optional<Bytes> row = liveRow(ref);
      if (!row) continue;
      for (const Column* c : longColumns) {
        std::optional<Bytes> value = field(*c, *row);
        if (!value || value->empty()) continue;
        std::string where =
            what + " page " + N(ref >> 8) + " row " + N(ref & 0xFF) + " column '" + c->name + "'";
        checkLongValue(*value, where, what, listed);
      }
    }
  }

  void checkLongValue(const Bytes& value, const std::string& where, const std::string& what,
                      const std::set<std::uint32_t>& listed) {
    if (value.size() < kLongValueHeader) {
      problem(where + ": a long value is cut short");
      return;
    }
    const std::uint32_t length = Get32(value.data()) & kMaxLongValueLength;
    const unsigned kind = value[3];
    if (kind == kInlineLongValue >> 24) {
      if (value.size() - kLongValueHeader != length)
        problem(where + ": an inline long value of " + N(length) + " bytes holds " +
                N(value.size() - kLongValueHeader));
      return;
    }
    if (kind != kSingleRowLongValue >> 24 && kind != 0) {
      problem(where + ": a long value of the unknown kind " + N(kind));
      return;
    }
    std::uint64_t held = 0;
    std::uint32_t ref = Get32(value.data() + kLongValuePointerAt);
    for (unsigned hops = 0;; ++hops) {
      std::uint32_t p = ref >> 8;
      unsigned r = ref & 0xFF;
      std::optional<RowSpan> span =
          hasPage(p) && p != 0 && isLongValuePage(p) ? rowOf(p, r) : std::nullopt;
      if (!span || !span->live()) {
        problem(where + ": a long value names row " + N(r) + " of page " + N(p) +
                ", not a live row of a long-value page");
        return;
      }
      if (!lvalRows_.emplace(ref, where).second) {
        problem(where + ": row " + N(r) + " of long-value page " + N(p) +
                " is named twice (also by " + lvalRows_[ref] + ")");
        return;
      }
      this->own(p, "the long values of " + what);
      if (!listed.count(p))
        problem(where + ": long-value page " + N(p) + " is in none of the table's maps");
      const std::uint32_t size = span->end - span->start;
      if (kind != 0) {
        if (size != length)
          problem(where + ": a long value of " + N(length) + " bytes has a row of " + N(size));
        return;
      }
      if (size < 4) {
        problem(where + ": a row of a long value's chain is cut short");
        return;
      }
      held += size - 4;
      ref = Get32(&page(p)[span->start + kLongValueNextAt]);
      if (ref == 0 || held >= length) break;
      if (hops > pages_.size()) {
        problem(where + ": a long value's chain does not end");
        return;
      }
    }
    if (held != length || ref != 0)
      problem(where + ": a long value of " + N(length) + " bytes has a chain of " + N(held) +
              (ref != 0 ? " that goes on" : ""));
  }

  void checkMovedRow(const TableDef& def, std::uint32_t p, unsigned r, const RowSpan& span) {
    std::string where = "table '" + def.name + "' page " + N(p) + " row " + N(r);
    if (span.end - span.start < 4) {
      problem(where + ": a moved row is cut short");
      return;
    }
    const unsigned char* d = &page(p)[span.start];
    unsigned row = d[0];
    std::uint32_t target = Get24(d + 1);
    if (!hasPage(target) || typeOf(target) != kDataPage ||
        Get32(&page(target)[kDataOwnerAt]) != def.page || row >= rowCount(target)) {
      problem(where + ": a moved row points to row " + N(row) + " of page " + N(target) +
              ", not a row of the table");
      return;
    }
    std::optional<RowSpan> data = rowOf(target, row);
    std::uint32_t ref = (target << 8) | row;
    if (!data || !data->movedData())
      problem(where + ": a moved row points to row " + N(row) + " of page " + N(target) +
              ", which is not marked as moved data (readers would disagree on the row)");
    else if (data->start == data->end)
      problem(where + ": the data of a moved row (row " + N(row) + " of page " + N(target) +
              ") is empty");
    if (!movedTo_.emplace(ref, where).second)
      problem(where + ": row " + N(row) + " of page " + N(target) +
              " is the data of two moved rows");
  }

  // Moved data that no moved row names is read as a live row by libmdb and mdb-reader only.
  void checkMovedData() {
    for (const auto& [ref, what] : movedData_)
      if (!movedTo_.count(ref))
        problem(what + ": row " + N(ref & 0xFF) + " of page " + N(ref >> 8) +
                " is marked as moved data, but no moved row names it");
  }

  // ---- indexes -------------------------------------------------------------------------------

  struct IndexPage {
    std::vector<Bytes> entries;
    std::uint32_t prev = 0, next = 0;
  };

  std::optional<IndexPage> readIndexPage(std::uint32_t p, const std::string& what) {
    const Bytes& b = page(p);
    IndexPage out;
    const IndexPageLayout& l = index_;
    out.prev = Get32(&b[l.prevAt]);
    out.next = Get32(&b[l.nextAt]);
    std::size_t prefix = Get16(&b[l.prefixAt]);
    std::vector<std::size_t> bounds{l.entriesAt};
    for (std::size_t bit = 0; bit < (l.entriesAt - l.bitmapAt) * 8; ++bit)
      if (b[l.bitmapAt + bit / 8] & (1u << (bit % 8))) bounds.push_back(l.entriesAt + bit);
    if (bounds.back() > pageSize_) {
      problem(what + ": index page " + N(p) + " has an entry past the end of the page");
      return std::nullopt;
    }
    for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
      Bytes e(b.begin() + bounds[i], b.begin() + bounds[i + 1]);
      if (i > 0) {
        if (prefix > out.entries[0].size()) {
          problem(what + ": index page " + N(p) + " shares a prefix longer than its first entry");
          return std::nullopt;
        }
        e.insert(e.begin(), out.entries[0].begin(), out.entries[0].begin() + prefix);
      }
      out.entries.push_back(std::move(e));
    }
    return out;
  }

  void checkIndex(const TableDef& def, std::size_t number, std::uint64_t rows) {
    const RealIndex& index = def.indexes[number];
    std::string what = "table '" + def.name + "' index " + N(number);
    std::optional<std::set<std::uint32_t>> mapped = mapPages(index.map, what + "'s page map");
    if (!mapped) return;
    for (std::uint32_t p : *mapped) {
      if (!hasPage(p) || (typeOf(p) != kIndexNodePage && typeOf(p) != kIndexLeafPage) ||
          Get32(&page(p)[kDataOwnerAt]) != def.page)
        problem(what + "'s page map names page " + N(p) + ", not an index page of the table");
      else
        own(p, "the indexes of table '" + def.name + "'");
    }
    std::uint32_t p = index.root;
    if (!mapped->count(p)) {
      problem(what + ": its root page " + N(p) + " is not in its page map");
      return;
    }
    // Down the first entries to the first leaf, checking the order on the node pages met.
    std::set<std::uint32_t> seen;
    while (typeOf(p) == kIndexNodePage) {
      std::optional<IndexPage> node = readIndexPage(p, what);
      if (!node) return;
      if (node->entries.empty()) {
        problem(what + ": node page " + N(p) + " has no entries");
        return;
      }
      if (!inOrder(node->entries, what + ": node page " + N(p))) return;
      const Bytes& first = node->entries.front();
      if (first.size() < 8) {
        problem(what + ": node page " + N(p) + " has an entry too short for its pointers");
        return;
      }
      std::uint32_t child = GetBigEndian(&first[first.size() - 4], 4);
      if (!seen.insert(p).second || !mapped->count(child)) {
        problem(what + ": node page " + N(p) + " points to page " + N(child) +
                ", not a page of the index");
        return;
      }
      p = child;
    }
    // Along the leaves.
    std::uint64_t entries = 0;
    std::set<std::uint32_t> named;
    Bytes last;
    Bytes lastKey;  // of the previous leaf entry, without its row pointer
    const bool unique = (index.flags & kUniqueIndex) && KeyColumnsKnown(def, index);
    std::uint32_t prev = 0;
    for (; p != 0; p = pageNext_) {
      if (!mapped->count(p) || typeOf(p) != kIndexLeafPage || !seen.insert(p).second) {
        problem(what + ": the chain of leaves reaches page " + N(p) +
                ", not a new leaf of the index");
        return;
      }
      std::optional<IndexPage> leaf = readIndexPage(p, what);
      if (!leaf) return;
      pageNext_ = leaf->next;
      if (leaf->prev != prev)
        problem(what + ": leaf page " + N(p) + " names " + N(leaf->prev) +
                " as the previous leaf, not " + N(prev));
      prev = p;
      std::vector<Bytes> run;
      if (!last.empty()) run.push_back(last);
      run.insert(run.end(), leaf->entries.begin(), leaf->entries.end());
      if (!inOrder(run, what + ": leaf page " + N(p))) return;
      for (const Bytes& e : leaf->entries) {
        ++entries;
        if (e.size() < 5) {
          problem(what + ": leaf page " + N(p) + " has an entry too short for its row pointer");
          return;
        }
        Bytes key(e.begin(), e.end() - 4);
        if (unique && key == lastKey && !KeyHoldsNull(def, index, key))
          problem(what + " is unique but holds one key twice (leaf page " + N(p) + ")");
        lastKey = std::move(key);
        std::uint32_t target = GetBigEndian(&e[e.size() - 4], 3);
        std::uint32_t ref = (target << 8) | e.back();
        if (!live_[def.page].count(ref))
          problem(what + ": leaf page " + N(p) + " names row " + N(e.back()) + " of page " +
                  N(target) + ", not a live row of the table");
        else if (!named.insert(ref).second)
          problem(what + " names row " + N(e.back()) + " of page " + N(target) + " twice");
      }
      if (!leaf->entries.empty()) last = leaf->entries.back();
    }
    if (!(index.flags & kIgnoreNulls) && entries != rows)
      problem(what + " holds " + N(entries) + " entries for " + N(rows) + " rows");
  }

  // A unique index may still hold several keys with a Null column. Where a key's columns can
  // be told apart: integer columns (a flag byte, then 1, 2 or 4 bytes) with at most one text
  // column, the last one.
  static int KeyColumnSize(const TableDef& def, int number) {
    for (const Column& c : def.columns) {
      if (c.number != number) continue;
      switch (c.type) {
        case 0x02:
          return 1;  // Byte
        case 0x03:
          return 2;  // Integer
        case 0x04:
          return 4;  // Long
        case 0x0A:
          return -1;  // Text: runs to the end of the key
        default:
          return 0;
      }
    }
    return 0;
  }
  static bool KeyColumnsKnown(const TableDef& def, const RealIndex& index) {
    for (std::size_t i = 0; i < index.columns.size(); ++i) {
      int size = KeyColumnSize(def, index.columns[i]);
      if (size == 0 || (size < 0 && i + 1 != index.columns.size())) return false;
    }
    return true;
  }
  static bool KeyHoldsNull(const TableDef& def, const RealIndex& index, const Bytes& key) {
    std::size_t at = 0;
    for (int column : index.columns) {
      if (at >= key.size() || key[at] == 0x00 || key[at] == 0xFF) return true;
      int size = KeyColumnSize(def, column);
      if (size < 0) break;
      at += 1 + static_cast<std::size_t>(size);
    }
    return false;
  }

  bool inOrder(const std::vector<Bytes>& entries, const std::string& where) {
    for (std::size_t i = 1; i < entries.size(); ++i)
      if (!(entries[i - 1] < entries[i])) {
        problem(where + ": entries " + N(i - 1) + " and " + N(i) + " are out of order");
        return false;
      }
    return true;
  }

  // ---- the catalogue -------------------------------------------------------------------------

  // The value bytes of column `c` in a row, or nothing for null.
  std::optional<Bytes> field(const Column& c, const Bytes& row) const {
    if (layout_.jet3) return Jet3Field(c, row);
    if (row.size() < 2) return std::nullopt;
    std::size_t rowColumns = Get16(&row[0]);
    std::size_t mask = (rowColumns + 7) / 8;
    if (row.size() < 2 + mask + 2 || static_cast<std::size_t>(c.number) >= rowColumns)
      return std::nullopt;
    const unsigned char* nulls = &row[row.size() - mask];
    if (!(nulls[c.number / 8] & (1u << (c.number % 8)))) return std::nullopt;
    if (c.flags & kFixedColumn) {
      std::size_t at = 2 + static_cast<std::size_t>(c.fixedOffset);
      if (at + c.length > row.size()) return std::nullopt;
      return Bytes(row.begin() + at, row.begin() + at + c.length);
    }
    std::size_t varLen = Get16(&row[row.size() - mask - 2]);
    std::size_t slot = static_cast<std::size_t>(c.varSlot);
    if (slot >= varLen || row.size() < mask + 4 + 2 * (varLen + 1)) return std::nullopt;
    auto offsetAt = [&](std::size_t k) { return Get16(&row[row.size() - mask - 4 - 2 * k]); };
    std::size_t start = offsetAt(slot), end = offsetAt(slot + 1);  // slot varLen is the end
    if (start > end || end > row.size()) return std::nullopt;
    return Bytes(row.begin() + start, row.begin() + end);
  }

  // The same in a Jet 3 row: 8-bit numbers, starts past 255 told by the jump table.
  static std::optional<Bytes> Jet3Field(const Column& c, const Bytes& row) {
    if (row.size() < 3) return std::nullopt;
    std::size_t rowColumns = row[0];
    std::size_t mask = (rowColumns + 7) / 8;
    if (row.size() < 1 + mask + 1 || static_cast<std::size_t>(c.number) >= rowColumns)
      return std::nullopt;
    const unsigned char* nulls = &row[row.size() - mask];
    if (!(nulls[c.number / 8] & (1u << (c.number % 8)))) return std::nullopt;
    if (c.flags & kFixedColumn) {
      std::size_t at = 1 + static_cast<std::size_t>(c.fixedOffset);
      if (at + c.length > row.size()) return std::nullopt;
      return Bytes(row.begin() + at, row.begin() + at + c.length);
    }
    const std::size_t countAt = row.size() - mask - 1;
    std::size_t varLen = row[countAt];
    std::size_t slot = static_cast<std::size_t>(c.varSlot);
    std::size_t jumps = (row.size() - 1) / 256;
    if (slot >= varLen || countAt < jumps + varLen + 1) return std::nullopt;
    const std::size_t lastStart = countAt - jumps - 1;  // start k at lastStart - k
    if ((lastStart - varLen) / 256 < jumps) --jumps;    // a last entry that marks nothing
    auto offsetAt = [&](std::size_t k) {
      std::size_t high = 0;
      for (std::size_t j = 0; j < jumps; ++j)
        if (row[countAt - 1 - j] <= k) ++high;
      return row[lastStart - k] + 256 * high;
    };
    std::size_t start = offsetAt(slot), end = offsetAt(slot + 1);  // slot varLen is the end
    if (start > end || end > row.size()) return std::nullopt;
    return Bytes(row.begin() + start, row.begin() + end);
  }

  std::vector<CatalogRow> readCatalog(const TableDef& catalog) {
    const Column *id = nullptr, *name = nullptr, *type = nullptr;
    for (const Column& c : catalog.columns) {
      if (c.name == "Id") id = &c;
      if (c.name == "Name") name = &c;
      if (c.name == "Type") type = &c;
    }
    std::vector<CatalogRow> rows;
    if (!id || !name || !type) {
      problem("MSysObjects lacks one of the columns Id, Name and Type");
      return rows;
    }
    for (std::uint32_t ref : live_[catalog.page]) {
      std::uint32_t p = ref >> 8;
      unsigned r = ref & 0xFF;
      std::optional<RowSpan> span = rowOf(p, r);
      for (int hops = 0; span && span->moved() && hops < 4; ++hops) {
        const unsigned char* d = &page(p)[span->start];
        r = d[0];
        p = Get24(d + 1);
        span = hasPage(p) && typeOf(p) == kDataPage ? rowOf(p, r) : std::nullopt;
      }
      if (!span || span->moved()) continue;  // reported by the moved-row check
      Bytes row(page(p).begin() + span->start, page(p).begin() + span->end);
      std::optional<Bytes> i = field(*id, row), n = field(*name, row), t = field(*type, row);
      if (!i || !n || !t || i->size() != 4 || t->size() != 2) continue;
      rows.push_back({Get32(i->data()),
                      static_cast<int>(static_cast<std::int16_t>(Get16(t->data()))),
                      TextAsUtf8(n->data(), n->size(), codePage_)});
    }
    return rows;
  }

  void checkCatalog(const std::vector<CatalogRow>& rows) {
    std::map<std::uint32_t, std::string> byPage{{kCatalogPage, kCatalogName}};
    std::vector<std::string> names;
    std::set<std::uint32_t> continuations;
    for (std::uint32_t p = 1; p < pages_.size(); ++p)
      if (typeOf(p) == kDefinitionPage && !isFree(p) && Get32(&page(p)[kDefNextPageAt]) != 0)
        continuations.insert(Get32(&page(p)[kDefNextPageAt]));
    for (const CatalogRow& row : rows) {
      if ((row.type & 0x7F) != object_type::kLocalTable) continue;
      for (const std::string& other : names)
        if (SameName(other, row.name)) problem("MSysObjects names two tables '" + row.name + "'");
      names.push_back(row.name);
      std::uint32_t p = row.id & 0xFFFFFF;
      if (p == kCatalogPage) continue;
      if (!hasPage(p) || typeOf(p) != kDefinitionPage) {
        problem("MSysObjects names page " + N(p) + " as the definition of '" + row.name +
                "', which is not a definition page");
        continue;
      }
      auto [it, added] = byPage.emplace(p, row.name);
      if (!added) {
        problem("tables '" + it->second + "' and '" + row.name + "' share definition page " + N(p));
        continue;
      }
      if (continuations.count(p)) {
        problem("MSysObjects names page " + N(p) + " as the definition of '" + row.name +
                "', but it continues another definition");
        continue;
      }
      if (std::optional<TableDef> def = readTable(p, row.name)) checkTable(*def);
    }
  }

  const PageIo& io_;
  JetCheckReport& report_;
  const std::string password_;
  const std::size_t pageSize_;
  const PageLayout& layout_;
  const DefinitionLayout& def_;
  const IndexPageLayout& index_;
  std::uint16_t codePage_ = 0;  // of a Jet 3 file's text
  std::vector<Bytes> pages_;
  std::set<std::uint32_t> free_;
  std::map<std::uint32_t, std::string> owners_;
  std::map<std::uint32_t, std::set<std::uint32_t>> live_;  // per table: page << 8 | row
  std::map<std::uint32_t, std::string> movedData_;         // page << 8 | row: its table
  std::map<std::uint32_t, std::string> movedTo_;           // the data a moved row names: that row
  std::map<std::uint32_t, std::string> lvalRows_;          // long-value rows: the value naming it
  std::uint32_t pageNext_ = 0;
};

// A file's pages, read-only.
class FilePages : public PageIo {
 public:
  FilePages(Bytes bytes, std::size_t pageSize) : bytes_(std::move(bytes)), pageSize_(pageSize) {}
  std::size_t pageSize() const override { return pageSize_; }
  std::uint32_t pageCount() const override {
    return static_cast<std::uint32_t>(bytes_.size() / pageSize_);
  }
  std::vector<unsigned char> readPage(std::uint32_t page) const override {
    auto at = bytes_.begin() + static_cast<std::ptrdiff_t>(page * pageSize_);
    return Bytes(at, at + static_cast<std::ptrdiff_t>(pageSize_));
  }
  void writePage(std::uint32_t, const std::vector<unsigned char>&) override {}
  std::uint32_t appendPage(const std::vector<unsigned char>&) override { return pageCount(); }

 private:
  Bytes bytes_;
  std::size_t pageSize_;
};

}  // namespace

JetCheckReport CheckJetPages(const PageIo& io, const std::string& password) {
  JetCheckReport report;
  Checker(io, report, password).run();
  return report;
}

std::string NewProblem(const JetCheckReport& before, const JetCheckReport& after) {
  auto shapes = [](const JetCheckReport& report) {
    std::map<std::string, int> counts;
    for (const std::string& problem : report.problems) {
      std::string shape;
      for (char c : problem)
        if (c < '0' || c > '9')
          shape += c;
        else if (shape.empty() || shape.back() != '#')
          shape += '#';
      ++counts[shape];
    }
    return counts;
  };
  const std::map<std::string, int> old = shapes(before);
  for (const auto& [shape, count] : shapes(after)) {
    auto it = old.find(shape);
    if (it == old.end() || it->second < count) return shape;
  }
  return {};
}

JetCheckReport CheckJetFile(const std::string& path, const std::string& password) {
  JetCheckReport report;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    report.problems.push_back("the file '" + path + "' cannot be read");
    return report;
  }
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The page size by the header's version: 2048 bytes in Jet 3 files, 4096 otherwise.
  std::optional<JetHeader> header = ParseJetHeader(bytes.data(), bytes.size());
  const std::size_t pageSize = header ? header->pageSize : kPageSize;
  if (bytes.size() % pageSize != 0) {
    report.problems.push_back("the file is not a whole number of " + N(pageSize) + "-byte pages");
    return report;
  }
  FilePages pages(std::move(bytes), pageSize);
  return CheckJetPages(pages, password);
}

}  // namespace db::access::check
