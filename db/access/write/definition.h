// Table definitions as the writer reads and writes them (Jet 3, Jet 4 and ACE layouts,
// little-endian; the page size tells them apart).
//
// The layouts are described in db/access/format/definition.h.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "db/access/format/page_io.h"
#include "db/access/write/data_page.h"
#include "db/access/format/bytes.h"
#include "db/access/format/definition.h"

namespace db::access::write {

struct TdefColumn {
  int type = 0;
  int number = 0;
  int varIndex = 0;
  int flags = 0;
  int extFlags = 0;
  int fixedOffset = 0;
  int length = 0;
  std::uint16_t sortOrder = 0;  // text columns: 0x0409 General
  std::uint8_t sortVersion = 0;
  std::uint16_t codePage = 0;  // Jet 3 text: the code page of its bytes; 0: UTF-16 (Jet 4 / ACE)
  std::u16string name;
  bool fixed() const { return flags & kFixedColumn; }
  bool compressed() const { return extFlags & kCompressedColumn; }
  RowColumn rowColumn() const;
};

struct TdefRealIndex {
  struct Part {
    int column = 0;  // column number
    bool ascending = true;
  };
  std::vector<Part> parts;
  RowRef pageMap;
  std::uint32_t firstPage = 0;
};

struct TdefLongValueMaps {
  int column = 0;
  RowRef owned;
  RowRef freeSpace;
};

struct TableDef {
  bool jet3 = false;                 // Jet 3 layout (2048-byte pages)
  std::uint32_t page = 0;            // first definition page
  std::vector<std::uint32_t> pages;  // the whole chain
  std::uint32_t rowCount = 0;
  unsigned maxColumns = 0;
  unsigned varColumns = 0;
  unsigned indexCount = 0;
  RowRef ownedPages;
  RowRef freeSpacePages;
  std::vector<TdefColumn> columns;  // in the definition's order
  std::vector<TdefRealIndex> realIndexes;
  std::vector<TdefLongValueMaps> longValueMaps;

  std::vector<RowColumn> rowColumns() const;
  unsigned varSlots() const;  // size of a row's offset table
  // Column position by name, letter case ignored; -1 when absent.
  int find(const std::u16string& name) const;
};

// Reads the definition that starts on `page`. Throws db::Error when it is damaged.
TableDef ReadTableDef(const PageIo& io, std::uint32_t page);

// The code page of a Jet 3 file's text (from its header on page 0); 0 for Jet 4 and ACE files.
// Throws DamagedFileError when a Jet 3 header cannot be read.
std::uint16_t FileCodePage(const PageIo& io);

// A text value as `column` stores it: UTF-16 (compressed as the column says), or the bytes of
// the column's code page. Throws db::Error (errc::kFailed) naming the first character the code
// page cannot hold.
Bytes EncodeColumnText(const TdefColumn& column, const std::u16string& text);
// A Memo value as `column` stores it: UTF-16 (compressed only up to the length Access
// compresses), or the bytes of the column's code page as EncodeColumnText makes them.
Bytes EncodeMemoText(const TdefColumn& column, const std::u16string& text);
// A stored text value of `column` as UTF-16.
std::u16string DecodeColumnText(const TdefColumn& column, const Bytes& bytes);

// Sets the row count of the definition on `page`.
void WriteRowCount(PageIo& io, std::uint32_t page, std::uint32_t rows);

struct NewTextColumn {
  std::u16string name;
  int length = 255;       // characters (Text)
  bool longText = false;  // a Memo column: no length; its long values have maps of their own
};

// A one-page definition of a user table of Text and Memo columns without indexes, with its two
// maps at `owned` and `freeSpace` and, for each Memo column in column order, the owned-pages and
// free-space maps of its long values, in the layout of `pageSize`. Text and Memo columns get
// Unicode compression, as Access gives them (Jet 4 / ACE), or the code page `codePage` (Jet 3:
// its names are stored in it too; throws db::Error for a name it cannot hold).
Bytes BuildTextTableDef(std::size_t pageSize, const std::vector<NewTextColumn>& columns,
                        RowRef owned, RowRef freeSpace, std::uint16_t codePage = 0,
                        const std::vector<std::pair<RowRef, RowRef>>& longValueMaps = {});

// Closes a one-page definition built in `def`: the end marker of the long-value maps, the
// free (Jet 4) and used byte counts, and padding to the page size. Throws when it does not fit.
void FinishDefinitionPage(Bytes& def, std::size_t pageSize);

}  // namespace db::access::write
