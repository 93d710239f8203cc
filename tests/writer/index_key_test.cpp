// Index keys: the keys we build for the catalogue rows of files made by Access equal the keys
// Access stored in the catalogue's two indexes, byte for byte; order and refusal rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "db/error.h"
#include "db/jet_index_key.h"
#include "db/jet_index_pages.h"
#include "tests/support/fixtures.h"
#include "tests/writer/index_catalog_support.h"

namespace {

using db::IndexKeyBuilder;
using db::TextCollation;
using Bytes = std::vector<unsigned char>;

const char* const kAccessFiles[] = {
    "jet4-empty-2000.mdb",        "jet4-empty-2003.mdb",      "jet4-nopassword-2003.mdb",
    "jet4-numeric-2003.mdb",      "jet4-password-2000.mdb",   "jet4-password-2003.mdb",
    "ace12-empty-2007.accdb",     "ace14-empty-2010.accdb",   "ace14-test-2010.accdb",
    "ace16-deleted-column.accdb", "ace16-empty-2016.accdb",   "ace16-longtext.accdb",
};

Bytes Text(const std::string& s, TextCollation c, bool ascending = true) {
  return IndexKeyBuilder().addText(s, c, ascending).take();
}

TEST(IndexKeyFixtures, CatalogueKeysEqualThoseAccessStored) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* file : kAccessFiles) {
    SCOPED_TRACE(file);
    auto io = indextest::MemoryPageIo::FromFile(testsupport::Fixture(file));
    auto def = indextest::ReadCatalogDefinition(io);
    const auto& id = def.column("Id");
    const auto& parentId = def.column("ParentId");
    const auto& name = def.column("Name");
    auto collation = db::CollationFromSortOrder(name.sortOrder, name.sortVersion);
    ASSERT_TRUE(collation.has_value());

    int checkedNames = 0;
    for (const auto& index : def.indexes) {
      db::JetIndexTree tree(io, index.root);
      auto entries = tree.entries();
      ASSERT_FALSE(entries.empty());
      for (const auto& e : entries) {
        indextest::RowReader row(io, e.dataPage, e.row);
        IndexKeyBuilder key;
        for (int column : index.columns) {
          if (column == id.number) key.addLong(row.fixedLong(id));
          else if (column == parentId.number) key.addLong(row.fixedLong(parentId));
          else if (column == name.number) {
            std::string text = row.text(name);
            ASSERT_TRUE(db::CanEncodeIndexText(text, *collation)) << text;
            key.addText(text, *collation);
            ++checkedNames;
          } else {
            FAIL() << "unexpected index column " << column;
          }
        }
        EXPECT_EQ(key.bytes(), e.key) << "row " << e.dataPage << "/" << int(e.row);
      }
    }
    EXPECT_GT(checkedNames, 15);
  }
}

TEST(IndexKeyText, CaseFoldsAndAccentsGoToTheExtraRun) {
  for (TextCollation c : {TextCollation::kGeneralLegacy, TextCollation::kGeneral}) {
    EXPECT_EQ(Text("Table1", c), Text("TABLE1", c));
    EXPECT_EQ(Text("caf\xC3\xA9", c), Text("CAF\xC3\x89", c));  // é / É
    // Trailing blanks do not count; leading ones do.
    EXPECT_EQ(Text("Name  ", c), Text("Name", c));
    EXPECT_NE(Text(" Name", c), Text("Name", c));
  }
}

TEST(IndexKeyText, LayoutOfAccentsAndUnprintableCharacters) {
  // Accent: weights, end marker, a placeholder per earlier plain letter, the acute code.
  EXPECT_EQ(Text("Caf\xC3\xA9", TextCollation::kGeneralLegacy),
            (Bytes{0x7F, 0x4D, 0x4A, 0x53, 0x51, 0x01, 0x02, 0x02, 0x02, 0x0E, 0x00}));
  // Apostrophe: no weight; marker run, position (7 + 4 * 1) | 0x8000, 0x06, its code.
  EXPECT_EQ(Text("O'Hara", TextCollation::kGeneralLegacy),
            (Bytes{0x7F, 0x64, 0x57, 0x4A, 0x69, 0x4A, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06,
                   0x80, 0x00}));
  // Both together: the position counts the extra run, not the letters.
  Bytes both = Text("\xC3\xA9-e", TextCollation::kGeneral);
  EXPECT_EQ(both, (Bytes{0x7F, 0x0E, 0x21, 0x0E, 0x21, 0x01, 0x0E, 0x01, 0x01, 0x01, 0x80, 0x0B,
                         0x06, 0x82, 0x00}));
  // Ligatures write two weights.
  EXPECT_EQ(Text("\xC3\x9F", TextCollation::kGeneralLegacy), Text("ss", TextCollation::kGeneralLegacy));
  EXPECT_EQ(Text("\xC3\x9C", TextCollation::kGeneral), Text("UE", TextCollation::kGeneral));
  EXPECT_NE(Text("\xC3\x9C", TextCollation::kGeneralLegacy), Text("UE", TextCollation::kGeneralLegacy));
  // Descending: everything after the flag inverted, then one more 0x00.
  Bytes up = Text("Ab", TextCollation::kGeneral);
  Bytes down = Text("Ab", TextCollation::kGeneral, false);
  ASSERT_EQ(down.size(), up.size() + 1);
  EXPECT_EQ(down[0], 0x80);
  for (std::size_t i = 1; i < up.size(); ++i) EXPECT_EQ(down[i], static_cast<unsigned char>(~up[i]));
  EXPECT_EQ(down.back(), 0x00);
}

TEST(IndexKeyText, EncodedKeysSortLikeTheNames) {
  const std::vector<std::string> sorted = {"",     " x",  "1",     "10",    "2",   "a",
                                           "A b",  "Ab",  "ab2",   "Abc",   "B",   "OHara",
                                           "O'Hara", "Z", "zz"};
  for (TextCollation c : {TextCollation::kGeneralLegacy, TextCollation::kGeneral}) {
    for (std::size_t i = 1; i < sorted.size(); ++i) {
      Bytes a = Text(sorted[i - 1], c), b = Text(sorted[i], c);
      EXPECT_TRUE(std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end()))
          << sorted[i - 1] << " < " << sorted[i];
    }
  }
}

TEST(IndexKeyText, CharactersWithoutWeightsAreRefused) {
  std::string why;
  EXPECT_FALSE(db::CanEncodeIndexText("Price \xE2\x82\xAC", TextCollation::kGeneral, &why));
  EXPECT_NE(why.find("U+20AC"), std::string::npos) << why;
  EXPECT_FALSE(db::CanEncodeIndexText("a\tb", TextCollation::kGeneralLegacy));
  EXPECT_FALSE(db::CanEncodeIndexText("\xFF", TextCollation::kGeneralLegacy));  // not UTF-8
  EXPECT_TRUE(db::CanEncodeIndexText("Stra\xC3\x9F" "e_1 (\xC3\x85r) #2", TextCollation::kGeneral));
  EXPECT_THROW(Text("\xE2\x82\xAC", TextCollation::kGeneral), db::Error);
  EXPECT_FALSE(db::CollationFromSortOrder(1036, 0).has_value());
  EXPECT_EQ(db::CollationFromSortOrder(1033, 1), TextCollation::kGeneral);
}

TEST(IndexKeyNumbers, SignBitFlippedBigEndian) {
  EXPECT_EQ(IndexKeyBuilder().addLong(1).take(), (Bytes{0x7F, 0x80, 0x00, 0x00, 0x01}));
  EXPECT_EQ(IndexKeyBuilder().addLong(-1).take(), (Bytes{0x7F, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(IndexKeyBuilder().addLong(1, false).take(), (Bytes{0x80, 0x7F, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(IndexKeyBuilder().addInteger(-2).take(), (Bytes{0x7F, 0x7F, 0xFE}));
  EXPECT_EQ(IndexKeyBuilder().addNull().addNull(false).take(), (Bytes{0x00, 0xFF}));
}

}  // namespace
