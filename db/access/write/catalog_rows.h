// The system tables as the writer changes them:
//   MSysObjects (definition on page 2): one row per object. A new table's row holds Id (its
//     definition page), ParentId (the Id of the "Tables" container), Name, Type 1,
//     DateCreate/DateUpdate (OLE dates, local time), Owner (the owner of the database's MSysDb
//     row, i.e. the user Access itself writes as owner) and Flags 0; every other column Null.
//     Both of its indexes (Id; ParentId + Name) get the row's entry.
//   MSysACEs: the permissions of each object (ObjectId, SID, ACM, FInheritable). A new table
//     gets, in their order, the "Tables" container's inheritable entries that grant full table
//     rights (ACM 1048319), as its own, not inheritable.
//   MSysRelationships: szObject and szReferencedObject name the two tables of a relationship.
// Access 97 (Jet 3) keeps the same tables and columns; names are text in the file's code page and
// the catalogue's name index takes Jet 3 keys (db/access/write/index_key.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/access/write/table_rows.h"

namespace db::access::write {

struct CatalogEntry {
  RowRef where;
  std::vector<RowValue> values;  // in MSysObjects' column order
  std::int32_t id = 0;
  std::int32_t parentId = 0;
  std::u16string name;
  int type = 0;
  std::uint32_t flags = 0;
};

class CatalogWriter {
 public:
  CatalogWriter(PageIo& io, PageAllocator& pages);

  // Every object of the catalogue.
  std::vector<CatalogEntry> entries() const;
  // The object directly under the "Tables" container named `name` (letter case ignored):
  // tables, queries and linked tables share that name space.
  std::optional<CatalogEntry> findInTables(const std::u16string& name) const;
  // Whether a relationship names the table `name`.
  bool inRelationship(const std::u16string& name) const;

  // Adds the row and permissions of a new table defined on `definitionPage`.
  void addTable(std::uint32_t definitionPage, const std::u16string& name, double now);
  // Removes an object's row, its long values, and its permission rows.
  void removeObject(const CatalogEntry& entry);

  void flush();

  // The row a new table gets (exposed for comparison with Access's own rows).
  std::vector<RowValue> newTableRow(std::uint32_t definitionPage, const std::u16string& name,
                                    double now) const;

 private:
  int column(const TableRows& table, const char16_t* name) const;
  void freeLongValue(const Bytes& header);

  PageIo& io_;
  PageAllocator& pages_;
  TableRows objects_;
  TableRows aces_;
  std::int32_t tablesId_ = 0;
  Bytes owner_;
};

// Whether a name is one Access takes for a table: 1 to 64 characters (UTF-16 units, as Access
// counts them: an emoji takes two), no leading space, none of . ! ` [ ] and no control
// characters; any other character of any script is allowed. When not, `why` says what is wrong.
bool ValidTableName(const std::u16string& name, std::string* why);

// The OLE date (days since 1899-12-30, local time) of the current moment.
double OleNow();

}  // namespace db::access::write
