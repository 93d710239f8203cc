// The rows of one table read, added and removed through PageIo: rows go onto the table's data
// pages (new pages come from the file's page map and are recorded in the table's owned-pages and
// free-space maps), the row count in the definition follows, and every index of the table gets
// or loses the row's entry.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "db/access/write/index_tree.h"
#include "db/access/format/page_io.h"
#include "db/access/write/data_page.h"
#include "db/access/write/definition.h"
#include "db/access/write/usage_map.h"

namespace db::access::write {

// Index pages for one index: from the file's page map, recorded in the index's own map.
class MappedIndexPages : public IndexPageAllocator {
 public:
  MappedIndexPages(PageIo& io, PageAllocator& pages, RowRef indexMap)
      : io_(io), pages_(pages), map_(indexMap) {}
  std::uint32_t allocatePage() override;
  void releasePage(std::uint32_t page) override;

 private:
  PageIo& io_;
  PageAllocator& pages_;
  RowRef map_;
};

class TableRows {
 public:
  TableRows(PageIo& io, PageAllocator& pages, std::uint32_t definitionPage);

  const TableDef& def() const { return def_; }
  // Visits every live row with its address and values (in the definition's column order) until
  // `visit` gives false.
  void scan(const std::function<bool(RowRef, const std::vector<RowValue>&)>& visit) const;
  // Adds a row (values in the definition's column order). Throws db::Error when the row is too
  // big for a page; nothing is written then.
  RowRef insert(const std::vector<RowValue>& values);
  // Removes the row at `where` whose values are `values`.
  void remove(RowRef where, const std::vector<RowValue>& values);
  // Writes the row count into the definition (insert and remove keep it in memory).
  void flush();

  // The index key of a row for real index `index`.
  std::vector<unsigned char> indexKey(std::size_t index, const std::vector<RowValue>& values) const;

 private:
  std::function<std::uint32_t()> mapPageSource();
  // The bytes of row `where` (on `page`, already read), following a moved row to its data;
  // `data` (when given) gets where the bytes are. Throws db::Error for a moved row that does
  // not lead to its data.
  Bytes rowBytes(RowRef where, const Bytes& page, RowRef* data) const;
  const TdefColumn& columnByNumber(int number) const;
  // Before the first change: every entry of every index names a live row of the table, no row
  // twice, under the key the row's values make. A new row takes the next number of its page, so
  // an entry naming a row past the page's count would come to name the new row too; an entry
  // under another key would stay behind when its row is removed. Throws DamagedFileError.
  void checkIndexes();

  PageIo& io_;
  PageAllocator& pages_;
  TableDef def_;
  std::vector<RowColumn> rowColumns_;  // how the definition's columns sit in a row
  std::uint32_t lastPage_ = 0;         // the data page rows went to last
  bool countChanged_ = false;
  bool indexesChecked_ = false;
};

}  // namespace db::access::write
