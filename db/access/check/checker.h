// A consistency checker for Jet 3 (page size 2048), Jet 4 and ACE files (page size 4096), of our
// own and independent of the writer's code: it decodes every structure itself (taking only the
// format's offsets from db/access/format), so the tests can run it on the files the writer
// makes. It never changes a page.
//
// What it checks (all numbers little-endian unless said otherwise):
//   Pages      - the file is a whole number of pages; page 0 is the header; every page has a
//                known type: 0x01 data, 0x02 table definition, 0x03 index node, 0x04 index leaf,
//                0x05 map page; 0x08 and 0x09 (definition and long-value pages Access released)
//                and all-zero pages are accepted as unused.
//   Free map   - the map in row 0 of page 1 marks free pages (pages past its window count as
//                free). A free page must not be named by any table, index or long-value map,
//                nor be a definition or map page in use. (Its bytes may still look like a data
//                page of a table: Access frees pages without clearing them.)
//   Ownership  - every page that the free map calls in use and that nothing owns is listed in
//                `leakedPages` (not a problem: Access leaves old copies of rewritten pages and
//                released long-value pages behind, and readers never reach them). A page
//                with two owners is a problem: named by the maps of two tables, by a map and
//                a definition, or a map page named by two maps (only the map rows of several
//                tables share a page).
//   Table definitions (every table named by MSysObjects, and MSysObjects itself on page 2) -
//                the definition chain is made of definition pages without loops; column count,
//                column numbers (unique, below the row's maximum), fixed offsets and lengths,
//                variable-column slots, index counts and the index column references are sane;
//                the definition ends where its declared length says; every map row it names
//                exists and is a map.
//   Table maps - every page of a table's map is a data page pointing back to the table; the
//                table's free-space map lists only pages of its map; the pages of an index's
//                map are index pages of the table; long-value pages are data pages marked
//                "LVAL".
//   Data pages - the free-space field equals the real free space (lowest row start minus the
//                end of the row table); row starts lie between the row table and the end of the
//                page and each row ends where the previous row starts; a moved row (0x4000)
//                names a row of a data page of the same table that is marked as its data (0x8000
//                alone), is not empty and is named by no other moved row; every row marked as
//                moved data is named by a moved row (libmdb and mdb-reader read such rows in a
//                scan, so a stray one shows them a row the others do not see).
//   Long values - every Memo and OLE value of a live row that is not inline names a live row
//                of a long-value page (its one row: exactly as long as the value; or a chain
//                whose rows, each with the address of the next, add up to the value's length
//                and end with a zero address); no long-value row is named twice; the pages lie
//                in the table's maps (a long-value map or, in Jet 4 files, its page map) and so
//                belong to the table (a page of two tables, or one marked free, is a problem).
//   Row counts - the row count in the definition equals the live rows (neither deleted nor the
//                moved data of another row) on the table's data pages (except for
//                MSysAccessStorage, whose count Access lets go stale).
//   Indexes    - from each index's root: node and leaf pages of the table, entry boundaries
//                inside the page, the shared prefix no longer than the first entry, entries in
//                strictly increasing byte order within a page and along the chain of leaves
//                (whose previous/next links agree), every leaf entry names a live row of the
//                table, no row is named twice, the leaves hold one entry per row unless the
//                index ignores nulls, and a unique index holds no key twice (keys with a Null
//                column aside; checked where the key's columns can be told apart: integers and
//                a last text column, as in MSysObjects' ParentId + Name index).
//   Catalogue  - MSysObjects rows of local tables name definition pages that start a
//                definition; no two tables share a definition or a name (letter case ignored).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/access/format/page_io.h"

namespace db::access::check {

struct JetCheckReport {
  std::vector<std::string> problems;       // empty: the file is consistent
  std::vector<std::uint32_t> leakedPages;  // in use by the free map, owned by nothing
  bool ok() const { return problems.empty(); }
};

// Checks the pages `io` hands out (as stored in the file: pages encoded with the database key,
// or encrypted with `password`, are decoded here by the format's page codec).
JetCheckReport CheckJetPages(const format::PageIo& io, const std::string& password = {});

// Checks a file. A file that cannot be read, is not a Jet 3, Jet 4 or ACE file, or whose pages
// `password` does not decrypt, gives one problem.
JetCheckReport CheckJetFile(const std::string& path, const std::string& password = {});

// A problem of `after` that `before` did not have, with its numbers blanked out ("data page #
// says it has # free bytes, it has #"), or "" when there is none. Problems are compared by this
// shape, counted: a page number or row count in a problem a damaged file already had may change
// when the writer touches what it is about.
std::string NewProblem(const JetCheckReport& before, const JetCheckReport& after);

}  // namespace db::access::check
