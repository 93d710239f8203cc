// The writing side of the Access engine for Jet 3, Jet 4 and ACE files: CREATE TABLE, INSERT and
// DROP TABLE carried out on pages through PageIo (the pager's open transaction, or a buffer in
// tests). Every check that can refuse a statement runs before its first page is changed.
//
// A writer serves one transaction. Before anything is written it surveys what the catalogue's
// tables use (db/access/write/page_claims.h): the catalogue, every table's definition and maps, and
// the file's page map must agree, or the writer refuses the file as damaged (DamagedFileError) with
// nothing changed. The page allocator then never hands out a page a table still uses.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "db/access/sql/parser.h"
#include "db/access/write/catalog_rows.h"
#include "db/access/write/long_values.h"
#include "db/access/write/page_claims.h"
#include "db/access/format/page_io.h"
#include "db/access/write/table_rows.h"
#include "db/access/write/usage_map.h"

namespace db::access::write {

using sql::ColumnDefinition;
using sql::CreateTableStatement;
using sql::DropTableStatement;
using sql::InsertStatement;

class JetWriter {
 public:
  // `clock` gives the OLE date written as a new table's creation time. Throws
  // DamagedFileError for a file whose structures do not hold together.
  explicit JetWriter(PageIo& io, std::function<double()> clock = OleNow);
  ~JetWriter();

  void createTable(const CreateTableStatement& statement);
  void insert(const InsertStatement& statement);
  void dropTable(const DropTableStatement& statement);
  // Writes what the statements keep in memory (row counts) to the pages. Each statement
  // method calls it before it returns.
  void flush();

 private:
  TableRows& rowsOf(std::uint32_t definitionPage);
  CatalogEntry findTable(const std::u16string& name, const std::string& utf8) const;
  // The long-value pages the rows of the table name.
  std::set<std::uint32_t> longValuePagesOf(const TableDef& def);
  void releaseTablePages(const TableDef& def, const std::set<std::uint32_t>& longValuePages);

  PageIo& io_;
  std::function<double()> clock_;
  PageClaims claims_;  // surveyed first, before the catalogue is read for writing
  PageAllocator pages_;
  CatalogWriter catalog_;
  LongValueWriter longValues_;
  std::map<std::uint32_t, std::unique_ptr<TableRows>> tables_;
  // Tables found by INSERT, by the name as the statement spelled it: the catalogue is read once
  // per table and transaction, not once per row. CREATE and DROP clear it.
  std::map<std::string, CatalogEntry> inserting_;
};

}  // namespace db::access::write
