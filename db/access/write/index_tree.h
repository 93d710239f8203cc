// The B-tree of one index of a Jet 3, Jet 4 or ACE table, read and changed through PageIo.
//
// The layout of an index page is described in db/access/format/index_page.h.
// Leaves are chained through previous/next across the whole index; nodes only within their
// parent. The root page never moves (the table definition names it): when it is full its
// content moves to a new page below it. Entries are ordered by key bytes, then data page, then
// row. Pages this code writes use no shared prefix (as Access's own pages of the catalogue do),
// which every reader understands; pages with a prefix are read correctly.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "db/access/format/index_page.h"
#include "db/access/format/page_io.h"
#include "db/access/format/pages.h"

namespace db::access::write {

using namespace db::access::format;

struct IndexEntry {
  std::vector<unsigned char> key;
  std::uint32_t dataPage = 0;  // 24 bits on the page
  std::uint8_t row = 0;

  friend bool operator==(const IndexEntry&, const IndexEntry&) = default;
};

// Index order: key bytes (unsigned, a prefix first), then data page, then row. Negative when
// a sorts before b.
int CompareIndexEntries(const IndexEntry& a, const IndexEntry& b);

// Where new index pages come from and where dropped ones go. The writer marks them in the
// database's and the index's usage maps.
class IndexPageAllocator {
 public:
  virtual ~IndexPageAllocator() = default;
  // A page the index may use; the index writes its whole content right after.
  virtual std::uint32_t allocatePage() = 0;
  // A page the index no longer uses.
  virtual void releasePage(std::uint32_t page) = 0;
};

// Appends new pages at the end of the file and leaves released pages as they are.
class AppendingPageAllocator : public IndexPageAllocator {
 public:
  explicit AppendingPageAllocator(PageIo& io) : io_(io) {}
  std::uint32_t allocatePage() override;
  void releasePage(std::uint32_t page) override { released_.push_back(page); }
  const std::vector<std::uint32_t>& released() const { return released_; }

 private:
  PageIo& io_;
  std::vector<std::uint32_t> released_;
};

// One decoded index page.
struct IndexPage {
  std::uint32_t number = 0;
  bool leaf = true;
  std::uint32_t tableDefinition = 0;
  std::uint32_t prev = 0;
  std::uint32_t next = 0;
  std::uint32_t tail = 0;
  std::vector<IndexEntry> entries;
  std::vector<std::uint32_t> children;  // nodes: the child page of each entry
};

// Room for entries on one page (bytes of whole entries, without a shared prefix).
constexpr std::size_t IndexPageEntryRoom(std::size_t pageSize) {
  return pageSize - IndexPagesOfSize(pageSize).entriesAt;
}
constexpr std::size_t kIndexPageEntryRoom = IndexPageEntryRoom(kPageSize);

// Decodes page `number`; throws db::Error (errc::kBadFormat) for a page that is not a well-formed
// index page.
IndexPage DecodeIndexPage(const std::vector<unsigned char>& bytes, std::uint32_t number);
// Encodes a page (without shared prefix). Throws std::logic_error when the entries do not fit.
std::vector<unsigned char> EncodeIndexPage(const IndexPage& page, std::size_t pageSize);
// An empty leaf page, the root of a new index of the table defined on `tableDefinition`.
std::vector<unsigned char> EmptyIndexRoot(std::uint32_t tableDefinition, std::size_t pageSize);

class JetIndexTree {
 public:
  // The index whose root page is `rootPage`. New pages come from `allocator` (appended to the
  // file when none is given).
  JetIndexTree(PageIo& io, std::uint32_t rootPage, IndexPageAllocator* allocator = nullptr);

  // Every entry in index order (following the leaf chain from the leftmost leaf).
  std::vector<IndexEntry> entries() const;
  // The first entry whose key equals `key`.
  std::optional<IndexEntry> find(const std::vector<unsigned char>& key) const;

  // Adds an entry in order, splitting full pages. Throws db::Error when the same entry (key
  // and row) is there already or when the entry alone is too big for a page.
  void insert(const IndexEntry& entry);
  // Removes the entry with the same key and row; false when there is none. Pages left empty
  // (except the root) leave the tree and go back to the allocator.
  bool remove(const IndexEntry& entry);

  std::uint32_t rootPage() const { return root_; }

 private:
  struct Level {
    IndexPage page;
    std::size_t slot = 0;  // position among the parent's children (entries, then the tail)
  };

  IndexPage load(std::uint32_t page) const;
  std::vector<Level> descend(const IndexEntry& target) const;
  IndexEntry subtreeLast(const IndexPage& page) const;
  void normalizeNode(IndexPage& page) const;
  void store(const IndexPage& page);
  void setLink(std::uint32_t page, bool next, std::uint32_t value);
  void splitOff(std::vector<Level>& path, std::size_t level);
  void settle(std::vector<Level>& path);

  PageIo& io_;
  std::uint32_t root_;
  std::uint32_t tableDefinition_ = 0;
  AppendingPageAllocator appending_;
  IndexPageAllocator* allocator_;
};

}  // namespace db::access::write
