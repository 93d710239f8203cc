// Index B-tree: inserts and removals in the catalogue index of a copy of a file made by Access,
// with the whole tree checked after each batch (order, node keys, chains, free space).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "db/base/error.h"
#include "db/access/write/index_key.h"
#include "db/access/write/index_tree.h"
#include "tests/support/fixtures.h"
#include "tests/writer/index_catalog_support.h"

namespace {

using db::access::write::IndexEntry;
using db::access::write::IndexPage;
using db::access::write::JetIndexTree;

bool Less(const IndexEntry& a, const IndexEntry& b) {
  return db::access::write::CompareIndexEntries(a, b) < 0;
}

// Walks the whole tree from the root and reports the first broken rule: pages decode, node
// entries equal the last entry below them, entries ascend across the leaves, leaf and node
// chains link both ways, the free space field matches the entries. Gives the leaves in order.
struct TreeCheck {
  explicit TreeCheck(const indextest::MemoryPageIo& pages) : io(pages) {}
  const indextest::MemoryPageIo& io;
  std::vector<std::uint32_t> leaves;
  std::vector<IndexEntry> entries;
  std::map<int, std::vector<std::uint32_t>> levels;

  IndexEntry walk(std::uint32_t number, int depth) {
    IndexPage page = db::access::write::DecodeIndexPage(io.readPage(number), number);
    const unsigned char* raw = io.page(number);
    std::size_t used = 0;
    for (const auto& e : page.entries) used += e.key.size() + (page.leaf ? 4 : 8);
    EXPECT_EQ(indextest::Le16(raw + 2), 4096 - 0x1E0 - used) << "free space of page " << number;
    levels[depth].push_back(number);
    if (page.leaf) {
      leaves.push_back(number);
      entries.insert(entries.end(), page.entries.begin(), page.entries.end());
      return page.entries.empty() ? IndexEntry{} : page.entries.back();
    }
    EXPECT_FALSE(page.entries.size() > 1 && page.tail == 0) << "node " << number << " lacks a tail";
    IndexEntry last;
    for (std::size_t i = 0; i < page.entries.size(); ++i) {
      last = walk(page.children[i], depth + 1);
      EXPECT_EQ(last, page.entries[i]) << "node " << number << " entry " << i;
    }
    if (page.tail) last = walk(page.tail, depth + 1);
    return last;
  }

  void run(std::uint32_t root) {
    walk(root, 0);
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(), Less));
    for (std::size_t i = 0; i < leaves.size(); ++i) {
      IndexPage p = db::access::write::DecodeIndexPage(io.readPage(leaves[i]), leaves[i]);
      EXPECT_EQ(p.prev, i == 0 ? 0u : leaves[i - 1]) << "leaf " << leaves[i];
      EXPECT_EQ(p.next, i + 1 == leaves.size() ? 0u : leaves[i + 1]) << "leaf " << leaves[i];
    }
  }
};

IndexEntry CatalogEntry(std::int32_t parentId, const std::string& name,
                        db::access::write::TextCollation c, std::uint32_t page, std::uint8_t row) {
  db::access::write::IndexKeyBuilder key;
  key.addLong(parentId).addText(name, c);
  return {key.take(), page, row};
}

std::string RandomName(std::mt19937& rng) {
  static const std::string chars =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 _-'#$%&()+,.;=@[]^`{}~";
  std::uniform_int_distribution<std::size_t> len(1, 64), pick(0, chars.size() - 1);
  std::string s;
  for (std::size_t n = len(rng); s.size() < n;) s += chars[pick(rng)];
  if (rng() % 4 == 0) s += "\xC3\xA9\xC3\x9F";  // e-acute, sharp s
  return s;
}

struct Fixture {
  indextest::MemoryPageIo io;
  indextest::CatalogDefinition def;
  db::access::write::TextCollation collation;
  std::uint32_t root;

  explicit Fixture(const std::string& file)
      : io(indextest::MemoryPageIo::FromFile(testsupport::Fixture(file))),
        def(indextest::ReadCatalogDefinition(io)) {
    const auto& name = def.column("Name");
    collation = *db::access::write::CollationFromSortOrder(name.sortOrder, name.sortVersion);
    root = def.indexes.at(0).root;  // ParentId + Name
  }
};

TEST(IndexPages, ReencodingAnAccessPageKeepsItsBytes) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* file : {"jet4-empty-2003.mdb", "ace14-test-2010.accdb"}) {
    Fixture f(file);
    for (const auto& index : f.def.indexes) {
      // Access leaves old bytes after the last entry; everything up to it must be equal.
      auto bytes = f.io.readPage(index.root);
      auto again = db::access::write::EncodeIndexPage(
          db::access::write::DecodeIndexPage(bytes, index.root), 4096);
      std::size_t end = 4096 - indextest::Le16(bytes.data() + 2);
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + end, again.begin())) << file;
      EXPECT_TRUE(std::all_of(again.begin() + end, again.end(), [](auto b) { return b == 0; }));
    }
  }
}

TEST(IndexPages, PrefixCompressedPagesReadWhole) {
  IndexPage page;
  page.tableDefinition = 2;
  for (int i = 0; i < 5; ++i)
    page.entries.push_back({db::access::write::IndexKeyBuilder().addLong(1000 + i).take(), 100,
                            static_cast<std::uint8_t>(i)});
  auto plain = db::access::write::EncodeIndexPage(page, 4096);
  // Rewrite with a 4-byte shared prefix, as Access may store it.
  std::vector<unsigned char> packed(plain.begin(), plain.begin() + 0x1E0);
  std::fill(packed.begin() + 0x1B, packed.end(), 0);
  packed[0x18] = 4;
  std::size_t at = 0;
  for (std::size_t i = 0; i < page.entries.size(); ++i) {
    const auto& e = page.entries[i];
    std::size_t skip = i == 0 ? 0 : 4;
    packed.insert(packed.end(), e.key.begin() + skip, e.key.end());
    packed.insert(packed.end(), {0, 0, 100, static_cast<unsigned char>(i)});
    at += e.key.size() - skip + 4;
    packed[0x1B + at / 8] |= static_cast<unsigned char>(1u << (at % 8));
  }
  packed.resize(4096, 0);
  EXPECT_EQ(db::access::write::DecodeIndexPage(packed, 9).entries, page.entries);
}

TEST(IndexPages, DamagedPagesAreRefused) {
  IndexPage page;
  page.entries.push_back({db::access::write::IndexKeyBuilder().addLong(2).take(), 1, 0});
  page.entries.push_back({db::access::write::IndexKeyBuilder().addLong(1).take(), 1, 0});
  // Out of order.
  std::vector<unsigned char> bytes(4096, 0);
  bytes[0] = 0x04;
  std::size_t at = 0;
  for (const auto& e : page.entries) {
    std::copy(e.key.begin(), e.key.end(), bytes.begin() + 0x1E0 + at);
    at += e.key.size() + 4;
    bytes[0x1B + at / 8] |= static_cast<unsigned char>(1u << (at % 8));
  }
  EXPECT_THROW(db::access::write::DecodeIndexPage(bytes, 5), db::Error);
  bytes[0] = 0x01;  // a data page
  EXPECT_THROW(db::access::write::DecodeIndexPage(bytes, 5), db::Error);
  bytes[0] = 0x04;
  bytes[0x1B + 452] = 0x80;  // an entry ending past the page
  EXPECT_THROW(db::access::write::DecodeIndexPage(bytes, 5), db::Error);
}

TEST(IndexTree, InsertAndRemoveInACatalogueIndex) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* file : {"jet4-empty-2003.mdb", "ace14-test-2010.accdb"}) {
    SCOPED_TRACE(file);
    Fixture f(file);
    JetIndexTree tree(f.io, f.root);
    const auto original = tree.entries();

    IndexEntry added = CatalogEntry(0x0F000001, "Results", f.collation, 300, 4);
    tree.insert(added);
    auto now = tree.entries();
    ASSERT_EQ(now.size(), original.size() + 1);
    EXPECT_TRUE(std::is_sorted(now.begin(), now.end(), Less));
    EXPECT_EQ(tree.find(added.key), added);
    EXPECT_THROW(tree.insert(added), db::Error);

    EXPECT_TRUE(tree.remove(added));
    EXPECT_FALSE(tree.remove(added));
    EXPECT_EQ(tree.entries(), original);
    EXPECT_FALSE(tree.find(added.key).has_value());
  }
}

TEST(IndexTree, ThousandsOfNamesSplitPagesAndLeaveAgain) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* file : {"jet4-nopassword-2003.mdb", "ace16-empty-2016.accdb"}) {
    SCOPED_TRACE(file);
    Fixture f(file);
    db::access::write::AppendingPageAllocator allocator(f.io);
    JetIndexTree tree(f.io, f.root, &allocator);
    const auto original = tree.entries();
    const std::uint32_t pagesBefore = f.io.pageCount();

    std::mt19937 rng(7);
    std::set<std::string> seen;
    std::vector<IndexEntry> added;
    for (std::uint32_t i = 0; added.size() < 6000; ++i) {
      std::string name = RandomName(rng);
      std::string folded = name;
      for (char& c : folded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (!seen.insert(folded).second) continue;
      added.push_back(CatalogEntry(0x0F000001, name, f.collation, 400 + i / 200, i % 200));
      tree.insert(added.back());
      if (added.size() % 1500 == 0) {
        TreeCheck check(f.io);
        check.run(f.root);
        EXPECT_EQ(check.entries.size(), original.size() + added.size());
        EXPECT_GT(check.levels.size(), 1u);
      }
    }
    EXPECT_GT(f.io.pageCount(), pagesBefore + 20);
    auto expected = original;
    expected.insert(expected.end(), added.begin(), added.end());
    std::sort(expected.begin(), expected.end(), Less);
    EXPECT_EQ(tree.entries(), expected);

    std::shuffle(added.begin(), added.end(), rng);
    for (std::size_t i = 0; i < added.size(); ++i) {
      ASSERT_TRUE(tree.remove(added[i])) << i;
      if (i % 2000 == 0) {
        TreeCheck check(f.io);
        check.run(f.root);
        EXPECT_EQ(check.entries.size(), original.size() + added.size() - i - 1);
      }
    }
    EXPECT_EQ(tree.entries(), original);
    TreeCheck check(f.io);
    check.run(f.root);
    // Every page taken for the growth came back, but the root stays where it is.
    std::size_t treePages = 0;
    for (const auto& [depth, pages] : check.levels) treePages += pages.size();
    EXPECT_EQ(allocator.released().size() + treePages, f.io.pageCount() - pagesBefore + 1);
  }
}

TEST(IndexTree, AscendingAppendsKeepTheTreeValid) {
  // The export's pattern: names that always sort last.
  indextest::MemoryPageIo io(std::vector<unsigned char>(4096 * 3, 0));
  io.writePage(2, db::access::write::EmptyIndexRoot(1, 4096));
  JetIndexTree tree(io, 2);
  const std::string pad(90, 'x');
  auto key = [&](int i) {
    char name[16];
    std::snprintf(name, sizeof name, "Table%06d", i);
    return db::access::write::IndexKeyBuilder()
        .addLong(0x0F000001)
        .addText(name + pad, db::access::write::TextCollation::kGeneral)
        .take();
  };
  for (int i = 0; i < 5000; ++i)
    tree.insert(
        {key(i), static_cast<std::uint32_t>(10 + i / 100), static_cast<std::uint8_t>(i % 100)});
  TreeCheck check(io);
  check.run(2);
  EXPECT_EQ(check.entries.size(), 5000u);
  EXPECT_GE(check.levels.size(), 3u);
  EXPECT_EQ(tree.find(key(1234))->dataPage, 10u + 12);
  EXPECT_FALSE(tree.find(key(5000)).has_value());
}

}  // namespace
