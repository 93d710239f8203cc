// What the pages of an Access file (Jet 3, Jet 4, ACE) are used for, learnt from the catalogue
// before the writer changes the file, so that it never writes over a page that something still
// uses.
//
// Every table MSysObjects lists (MSysObjects itself included) claims:
//   - its definition pages: the chain from the page the catalogue names, linked at offset 4;
//   - the pages holding its map rows (owned pages, free space, each index, each long-value
//     column) and the map pages of those maps that are reference maps;
//   - every page those maps list: its data pages (in Jet 4 files its long-value pages too), its
//     index pages (and each index's first page), its long-value pages;
//   - every page of a long-value page that its rows' Memo and OLE values name: the one row of a
//     value or every row of its chain, whether a map lists the page or not.
// Page 0 (the header), page 1 (the file's page map) and the map pages of the file's page map
// are claimed by the file itself.
//
// Damage, reported as DamagedFileError:
//   - a structure that cannot be read: a definition chain that loops, leaves the file or reaches
//     a page that is not a definition page; a map row that is missing or is not a map; a map
//     page that is not a map page; a map that lists pages past the end of the file;
//   - a page claimed twice: by two tables, by a definition and a map, or a map page by two map
//     rows; a long value of one table on a page that anything else uses; Only the map rows of
//     several tables may share a page, and one table's maps may list a page more than once (its
//     owned-pages and free-space maps do);
//   - a claimed page that the file's page map marks free: the next allocation would overwrite
//     it.
// Access frees a page without clearing it, so a free page that still reads like a data,
// definition or index page of a table is normal as long as nothing above names it. The claims
// are therefore decided by the catalogue and the maps, never by what a free page holds.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "db/base/error.h"
#include "db/access/format/page_io.h"

namespace db::access::write {

using namespace db::access::format;

// The structures of the file do not hold together. `detail` says what is wrong, e.g. "page 17,
// a data page of table 'MSysObjects', is marked free in the file's page map".
class DamagedFileError : public Error {
 public:
  explicit DamagedFileError(const std::string& detail);
  const std::string& detail() const { return detail_; }

 private:
  std::string detail_;
};

struct TableDef;

class PageClaims {
 public:
  // Surveys the file through `io` (reading only). Throws DamagedFileError.
  explicit PageClaims(PageIo& io);

  // What uses `page` (e.g. "a data page of table 'Table1'"), or nothing.
  std::optional<std::string> user(std::uint32_t page) const;
  // The writer gave `page` back to the file's page map: nothing uses it any more.
  void release(std::uint32_t page);

 private:
  enum class Use : std::uint8_t {
    kNone,
    kHeader,
    kFileMap,
    kDefinition,
    kMapRows,
    kMapPage,
    kRows,
    kIndex,
    kLongValues
  };
  struct Claim {
    Use use = Use::kNone;
    std::uint32_t table = 0;  // index into tables_
  };

  std::vector<std::uint32_t> readFileMap();
  void surveyCatalog();
  void surveyTable(std::uint32_t first, std::uint32_t table);
  // Claims the map in row `ref` (page << 8 | row) and, for `listed`, every page it lists.
  void surveyMap(std::uint32_t ref, std::uint32_t table, Use listed, const std::string& what);
  void claim(std::uint32_t page, Use use, std::uint32_t table);
  // Claims the long-value pages that the rows of the table defined by `def` name.
  void surveyLongValues(const TableDef& def, std::uint32_t table);
  // Claims `page` for the long values of `table`, named `by` one of its rows.
  void claimNamed(std::uint32_t page, std::uint32_t table, const std::string& by);
  std::string describe(const Claim& c) const;
  std::string tableName(std::uint32_t table) const;

  PageIo& io_;
  std::uint32_t pageCount_ = 0;
  std::vector<Claim> byPage_;
  std::vector<std::string> tables_;  // names of the catalogued tables
  std::set<std::pair<std::uint32_t, std::uint32_t>> surveyedMaps_;  // map row, table
};

}  // namespace db::access::write
