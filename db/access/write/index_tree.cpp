#include "db/access/write/index_tree.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "db/access/format/bytes.h"
#include "db/access/format/index_page.h"
#include "db/access/format/pages.h"
#include "db/base/error.h"

namespace db::access::write {
namespace {

[[noreturn]] void Damaged(std::uint32_t page, const std::string& what) {
  throw BadFormatError("The index page " + std::to_string(page) + " is damaged: " + what + ".");
}

std::size_t EntrySize(const IndexEntry& e, bool leaf) { return e.key.size() + (leaf ? 4 : 8); }

std::size_t EntryBytes(const IndexPage& page) {
  std::size_t total = 0;
  for (const IndexEntry& e : page.entries) total += EntrySize(e, page.leaf);
  return total;
}

bool Fits(const IndexPage& page, std::size_t pageSize) {
  return EntryBytes(page) <= IndexPageEntryRoom(pageSize);
}

}  // namespace

int CompareIndexEntries(const IndexEntry& a, const IndexEntry& b) {
  std::size_t n = std::min(a.key.size(), b.key.size());
  for (std::size_t i = 0; i < n; ++i)
    if (a.key[i] != b.key[i]) return a.key[i] < b.key[i] ? -1 : 1;
  if (a.key.size() != b.key.size()) return a.key.size() < b.key.size() ? -1 : 1;
  if (a.dataPage != b.dataPage) return a.dataPage < b.dataPage ? -1 : 1;
  if (a.row != b.row) return a.row < b.row ? -1 : 1;
  return 0;
}

std::uint32_t AppendingPageAllocator::allocatePage() {
  return io_.appendPage(std::vector<unsigned char>(io_.pageSize(), 0));
}

IndexPage DecodeIndexPage(const std::vector<unsigned char>& bytes, std::uint32_t number) {
  if (bytes.size() != kPageSize && bytes.size() != kJet3PageSize)
    Damaged(number, "unexpected page size");
  const IndexPageLayout& l = IndexPagesOfSize(bytes.size());
  const unsigned char* p = bytes.data();
  if (p[0] != kIndexLeafPage && p[0] != kIndexNodePage) Damaged(number, "it is not an index page");
  IndexPage page;
  page.number = number;
  page.leaf = p[0] == kIndexLeafPage;
  page.tableDefinition = Get32(p + kIndexOwnerAt);
  page.prev = Get32(p + l.prevAt);
  page.next = Get32(p + l.nextAt);
  page.tail = Get32(p + l.tailAt);
  std::size_t prefixLength = Get16(p + l.prefixAt);

  const std::size_t trailer = page.leaf ? 4 : 8;
  std::vector<unsigned char> prefix;
  std::size_t start = 0;
  for (std::size_t bit = 1; bit < (l.entriesAt - l.bitmapAt) * 8; ++bit) {
    if (!(p[l.bitmapAt + bit / 8] & (1u << (bit % 8)))) continue;
    if (l.entriesAt + bit > bytes.size()) Damaged(number, "an entry ends beyond the page");
    std::vector<unsigned char> raw(p + l.entriesAt + start, p + l.entriesAt + bit);
    if (page.entries.empty()) {
      if (prefixLength > raw.size()) Damaged(number, "the shared prefix is longer than an entry");
      prefix.assign(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(prefixLength));
    } else {
      raw.insert(raw.begin(), prefix.begin(), prefix.end());
    }
    if (raw.size() < trailer + 1) Damaged(number, "an entry is too short");
    IndexEntry e;
    const unsigned char* t = raw.data() + raw.size() - trailer;
    e.key.assign(raw.begin(), raw.end() - static_cast<std::ptrdiff_t>(trailer));
    e.dataPage = GetBigEndian(t, 3);
    e.row = t[3];
    if (!page.entries.empty() && CompareIndexEntries(page.entries.back(), e) >= 0)
      Damaged(number, "its entries are out of order");
    if (!page.leaf) page.children.push_back(GetBigEndian(t + 4, 4));
    page.entries.push_back(std::move(e));
    start = bit;
  }
  if (!page.leaf && page.entries.empty() && page.tail == 0)
    Damaged(number, "an intermediate page without children");
  return page;
}

std::vector<unsigned char> EncodeIndexPage(const IndexPage& page, std::size_t pageSize) {
  if (pageSize != kPageSize && pageSize != kJet3PageSize)
    throw std::logic_error("index pages of 2048 or 4096 bytes only");
  if (!Fits(page, pageSize)) throw std::logic_error("index page overfull");
  const IndexPageLayout& l = IndexPagesOfSize(pageSize);
  std::vector<unsigned char> out(pageSize, 0);
  unsigned char* p = out.data();
  p[0] = page.leaf ? kIndexLeafPage : kIndexNodePage;
  p[1] = kPageMark;
  Put32(p + kIndexOwnerAt, page.tableDefinition);
  Put32(p + l.prevAt, page.prev);
  Put32(p + l.nextAt, page.next);
  Put32(p + l.tailAt, page.leaf ? 0 : page.tail);
  std::size_t at = 0;
  for (std::size_t i = 0; i < page.entries.size(); ++i) {
    const IndexEntry& e = page.entries[i];
    unsigned char* q = p + l.entriesAt + at;
    std::copy(e.key.begin(), e.key.end(), q);
    q += e.key.size();
    q[0] = static_cast<unsigned char>(e.dataPage >> 16);
    q[1] = static_cast<unsigned char>(e.dataPage >> 8);
    q[2] = static_cast<unsigned char>(e.dataPage);
    q[3] = e.row;
    if (!page.leaf) {
      std::uint32_t child = page.children[i];
      for (int k = 0; k < 4; ++k) q[4 + k] = static_cast<unsigned char>(child >> (24 - 8 * k));
    }
    at += EntrySize(e, page.leaf);
    p[l.bitmapAt + at / 8] |= static_cast<unsigned char>(1u << (at % 8));
  }
  std::size_t freeSpace = pageSize - (l.entriesAt + at);
  Put16(p + kIndexFreeBytesAt, static_cast<std::uint32_t>(freeSpace));
  return out;
}

std::vector<unsigned char> EmptyIndexRoot(std::uint32_t tableDefinition, std::size_t pageSize) {
  IndexPage page;
  page.tableDefinition = tableDefinition;
  return EncodeIndexPage(page, pageSize);
}

JetIndexTree::JetIndexTree(PageIo& io, std::uint32_t rootPage, IndexPageAllocator* allocator)
    : io_(io), root_(rootPage), appending_(io), allocator_(allocator ? allocator : &appending_) {
  if (io.pageSize() != kPageSize && io.pageSize() != kJet3PageSize)
    throw Error(errc::kNotSupported, "Indexes of this database format are not supported.");
  tableDefinition_ = load(rootPage).tableDefinition;
}

IndexPage JetIndexTree::load(std::uint32_t page) const {
  if (page == 0 || page >= io_.pageCount()) Damaged(page, "the page is outside the file");
  return DecodeIndexPage(io_.readPage(page), page);
}

namespace {
std::uint32_t ChildAt(const IndexPage& page, std::size_t slot) {
  return slot < page.children.size() ? page.children[slot] : page.tail;
}
std::size_t ChildCount(const IndexPage& page) {
  return page.children.size() + (page.tail != 0 ? 1 : 0);
}
}  // namespace

std::vector<IndexEntry> JetIndexTree::entries() const {
  IndexPage page = load(root_);
  for (int depth = 0; !page.leaf; ++depth) {
    if (depth > 32) Damaged(page.number, "the index is nested too deeply");
    page = load(ChildAt(page, 0));
  }
  std::vector<IndexEntry> all;
  for (std::size_t steps = 0;; ++steps) {
    all.insert(all.end(), page.entries.begin(), page.entries.end());
    if (page.next == 0) break;
    if (steps > io_.pageCount()) Damaged(page.number, "the leaf chain loops");
    page = load(page.next);
    if (!page.leaf) Damaged(page.number, "a leaf chain reaches an intermediate page");
  }
  return all;
}

std::optional<IndexEntry> JetIndexTree::find(const std::vector<unsigned char>& key) const {
  IndexEntry probe{key, 0, 0};  // sorts before every entry with this key
  IndexPage page = descend(probe).back().page;
  for (std::size_t steps = 0;; ++steps) {
    for (const IndexEntry& e : page.entries) {
      if (e.key == key) return e;
      if (CompareIndexEntries(probe, e) < 0) return std::nullopt;  // past the key
    }
    if (page.next == 0 || steps > io_.pageCount()) return std::nullopt;
    page = load(page.next);
  }
}

std::vector<JetIndexTree::Level> JetIndexTree::descend(const IndexEntry& target) const {
  std::vector<Level> path;
  path.push_back({load(root_), 0});
  while (!path.back().page.leaf) {
    if (path.size() > 32) Damaged(path.back().page.number, "the index is nested too deeply");
    const IndexPage& node = path.back().page;
    std::size_t slot = 0;
    while (slot < node.entries.size() && CompareIndexEntries(node.entries[slot], target) < 0)
      ++slot;
    // Past every listed entry: the tail child, or the last child when there is no tail.
    if (slot == node.entries.size() && node.tail == 0) slot = node.entries.size() - 1;
    path.push_back({load(ChildAt(node, slot)), slot});
  }
  return path;
}

IndexEntry JetIndexTree::subtreeLast(const IndexPage& page) const {
  if (page.leaf || page.tail == 0) {
    if (page.entries.empty()) Damaged(page.number, "an empty page inside the index");
    return page.entries.back();
  }
  return subtreeLast(load(page.tail));
}

void JetIndexTree::normalizeNode(IndexPage& page) const {
  if (page.leaf) return;
  if (page.tail == 0 && page.entries.size() > 1) {
    page.tail = page.children.back();
    page.entries.pop_back();
    page.children.pop_back();
  } else if (page.tail != 0 && page.entries.empty()) {
    page.entries.push_back(subtreeLast(load(page.tail)));
    page.children.push_back(page.tail);
    page.tail = 0;
  }
}

void JetIndexTree::store(const IndexPage& page) {
  std::vector<unsigned char> bytes = EncodeIndexPage(page, io_.pageSize());
  if (io_.readPage(page.number) != bytes) io_.writePage(page.number, bytes);
}

void JetIndexTree::setLink(std::uint32_t number, bool next, std::uint32_t value) {
  if (number == 0) return;
  IndexPage page = load(number);
  (next ? page.next : page.prev) = value;
  store(page);
}

// Moves the first half of the entries of the page at `level` (not the root) to a new page
// placed before it, and lists the new page in the parent.
void JetIndexTree::splitOff(std::vector<Level>& path, std::size_t level) {
  IndexPage& page = path[level].page;
  IndexPage& parent = path[level - 1].page;
  if (page.entries.size() < 2)
    throw Error(errc::kFailed, "An index entry is too large for an index page.");

  IndexPage head;
  head.number = allocator_->allocatePage();
  head.leaf = page.leaf;
  head.tableDefinition = tableDefinition_;
  std::size_t count = (page.entries.size() + 1) / 2;
  head.entries.assign(page.entries.begin(),
                      page.entries.begin() + static_cast<std::ptrdiff_t>(count));
  page.entries.erase(page.entries.begin(),
                     page.entries.begin() + static_cast<std::ptrdiff_t>(count));
  if (!page.leaf) {
    head.children.assign(page.children.begin(),
                         page.children.begin() + static_cast<std::ptrdiff_t>(count));
    page.children.erase(page.children.begin(),
                        page.children.begin() + static_cast<std::ptrdiff_t>(count));
  }
  head.prev = page.prev;
  head.next = page.number;
  setLink(page.prev, true, head.number);
  page.prev = head.number;
  normalizeNode(head);

  if (!page.leaf) {
    // Node pages below are chained only within their parent: cut the link between the last
    // child of the new page and the first child of the old one.
    IndexPage lastChild = load(ChildAt(head, ChildCount(head) - 1));
    if (!lastChild.leaf) {
      setLink(lastChild.number, true, 0);
      setLink(ChildAt(page, 0), false, 0);
    }
  }
  store(head);

  std::size_t slot = path[level].slot;
  parent.entries.insert(parent.entries.begin() + static_cast<std::ptrdiff_t>(slot),
                        subtreeLast(head));
  parent.children.insert(parent.children.begin() + static_cast<std::ptrdiff_t>(slot), head.number);
  path[level].slot = slot + 1;
}

void JetIndexTree::settle(std::vector<Level>& path) {
  for (std::size_t level = path.size(); level-- > 0;) {
    IndexPage& page = path[level].page;
    normalizeNode(page);

    if (level == 0 && !Fits(page, io_.pageSize())) {
      // The root keeps its number: its content moves to a new page below it.
      IndexPage moved = page;
      moved.number = allocator_->allocatePage();
      moved.prev = moved.next = 0;
      IndexPage root;
      root.number = root_;
      root.leaf = false;
      root.tableDefinition = tableDefinition_;
      path.insert(path.begin(), Level{root, 0});
      path[1].page = std::move(moved);
      path[1].slot = 0;
      level = 2;  // the loop continues with level 1, the moved page
      continue;
    }
    while (!Fits(page, io_.pageSize())) splitOff(path, level);
    store(page);

    if (level > 0) {
      IndexPage& parent = path[level - 1].page;
      std::size_t slot = path[level].slot;
      if (slot < parent.entries.size())
        parent.entries[slot] = subtreeLast(page);
      else if (parent.tail == 0) {
        // The root that just moved down: list its first child.
        parent.entries.push_back(subtreeLast(page));
        parent.children.push_back(page.number);
      }
    }
  }
}

void JetIndexTree::insert(const IndexEntry& entry) {
  if (EntrySize(entry, false) > IndexPageEntryRoom(io_.pageSize()) / 2)
    throw Error(errc::kFailed, "An index entry is too large for an index page.");
  std::vector<Level> path = descend(entry);
  IndexPage& leaf = path.back().page;
  auto at = std::lower_bound(
      leaf.entries.begin(), leaf.entries.end(), entry,
      [](const IndexEntry& a, const IndexEntry& b) { return CompareIndexEntries(a, b) < 0; });
  if (at != leaf.entries.end() && CompareIndexEntries(*at, entry) == 0)
    throw Error(errc::kFailed, "The index already holds this entry.");
  leaf.entries.insert(at, entry);
  settle(path);
}

bool JetIndexTree::remove(const IndexEntry& entry) {
  std::vector<Level> path = descend(entry);
  IndexPage& leaf = path.back().page;
  auto at = std::find_if(leaf.entries.begin(), leaf.entries.end(),
                         [&](const IndexEntry& e) { return CompareIndexEntries(e, entry) == 0; });
  if (at == leaf.entries.end()) return false;
  leaf.entries.erase(at);

  // Drop pages left without entries, from the leaf upwards (never the root).
  while (path.size() > 1) {
    IndexPage& page = path.back().page;
    if (!page.entries.empty() || page.tail != 0) break;
    setLink(page.prev, true, page.next);
    setLink(page.next, false, page.prev);
    IndexPage& parent = path[path.size() - 2].page;
    std::size_t slot = path.back().slot;
    if (slot < parent.entries.size()) {
      parent.entries.erase(parent.entries.begin() + static_cast<std::ptrdiff_t>(slot));
      parent.children.erase(parent.children.begin() + static_cast<std::ptrdiff_t>(slot));
    } else {
      parent.tail = 0;
    }
    allocator_->releasePage(page.number);
    path.pop_back();
  }
  IndexPage& root = path.front().page;
  if (path.size() == 1 && !root.leaf && root.entries.empty() && root.tail == 0) {
    root.leaf = true;  // the whole index is empty again
    root.prev = root.next = 0;
  }
  settle(path);
  return true;
}

}  // namespace db::access::write
