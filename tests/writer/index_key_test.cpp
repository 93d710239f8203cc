// Index keys: the keys we build for the catalogue rows of files made by Access equal the keys
// Access stored in the catalogue's two indexes, byte for byte; the compiled weight tables read
// back as generated; the layout beyond Latin-1, what the collations fold, and the order of keys
// of random names of many scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "db/base/error.h"
#include "db/access/write/index_key.h"
#include "db/access/write/index_tree.h"
#include "tests/support/fixtures.h"
#include "tests/writer/index_catalog_support.h"

namespace {

using db::access::write::IndexKeyBuilder;
using db::access::write::TextCollation;
using Bytes = std::vector<unsigned char>;

const char* const kAccessFiles[] = {
    "jet4-empty-2000.mdb",        "jet4-empty-2003.mdb",    "jet4-nopassword-2003.mdb",
    "jet4-numeric-2003.mdb",      "jet4-password-2000.mdb", "jet4-password-2003.mdb",
    "ace12-empty-2007.accdb",     "ace14-empty-2010.accdb", "ace14-test-2010.accdb",
    "ace16-deleted-column.accdb", "ace16-empty-2016.accdb", "ace16-longtext.accdb",
};

Bytes Text(const std::string& s, TextCollation c, bool ascending = true) {
  return IndexKeyBuilder().addText(s, c, ascending).take();
}

std::string Hex(const std::u16string& text) {
  std::string out;
  char buf[8];
  for (char16_t u : text) {
    std::snprintf(buf, sizeof buf, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(u));
    out += buf;
  }
  return out;
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
    auto collation = db::access::write::CollationFromSortOrder(name.sortOrder, name.sortVersion);
    ASSERT_TRUE(collation.has_value());

    int checkedNames = 0;
    for (const auto& index : def.indexes) {
      db::access::write::JetIndexTree tree(io, index.root);
      auto entries = tree.entries();
      ASSERT_FALSE(entries.empty());
      for (const auto& e : entries) {
        indextest::RowReader row(io, e.dataPage, e.row);
        IndexKeyBuilder key;
        for (int column : index.columns) {
          if (column == id.number)
            key.addLong(row.fixedLong(id));
          else if (column == parentId.number)
            key.addLong(row.fixedLong(parentId));
          else if (column == name.number) {
            std::string text = row.text(name);
            ASSERT_TRUE(db::access::write::CanEncodeIndexText(text, *collation)) << text;
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
  EXPECT_EQ(Text("\xC3\x9F", TextCollation::kGeneralLegacy),
            Text("ss", TextCollation::kGeneralLegacy));
  EXPECT_EQ(Text("\xC3\x9C", TextCollation::kGeneral), Text("UE", TextCollation::kGeneral));
  EXPECT_NE(Text("\xC3\x9C", TextCollation::kGeneralLegacy),
            Text("UE", TextCollation::kGeneralLegacy));
  // Descending: everything after the flag inverted, then one more 0x00.
  Bytes up = Text("Ab", TextCollation::kGeneral);
  Bytes down = Text("Ab", TextCollation::kGeneral, false);
  ASSERT_EQ(down.size(), up.size() + 1);
  EXPECT_EQ(down[0], 0x80);
  for (std::size_t i = 1; i < up.size(); ++i)
    EXPECT_EQ(down[i], static_cast<unsigned char>(~up[i]));
  EXPECT_EQ(down.back(), 0x00);
}

TEST(IndexKeyText, EncodedKeysSortLikeTheNames) {
  const std::vector<std::string> sorted = {"",    " x",  "1", "10",    "2",      "a", "A b", "Ab",
                                           "ab2", "Abc", "B", "OHara", "O'Hara", "Z", "zz"};
  for (TextCollation c : {TextCollation::kGeneralLegacy, TextCollation::kGeneral}) {
    for (std::size_t i = 1; i < sorted.size(); ++i) {
      Bytes a = Text(sorted[i - 1], c), b = Text(sorted[i], c);
      EXPECT_TRUE(std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end()))
          << sorted[i - 1] << " < " << sorted[i];
    }
  }
}

TEST(IndexKeyText, OnlyTextThatIsNotUtf8IsRefused) {
  for (TextCollation c : {TextCollation::kGeneralLegacy, TextCollation::kGeneral}) {
    EXPECT_TRUE(db::access::write::CanEncodeIndexText("Price \xE2\x82\xAC", c));
    EXPECT_TRUE(db::access::write::CanEncodeIndexText("a\tb", c));
    EXPECT_TRUE(db::access::write::CanEncodeIndexText("t\xF0\x9F\x98\x80", c));  // an emoji
    // Not UTF-8: a stray byte, a cut sequence, an overlong form, an encoded surrogate, past
    // U+10FFFF.
    for (const char* bad : {"\xFF", "a\xE6\x9D", "\xC0\xAF", "\xED\xA0\xBD", "\xF4\x90\x80\x80"}) {
      std::string why;
      EXPECT_FALSE(db::access::write::CanEncodeIndexText(bad, c, &why)) << bad;
      EXPECT_NE(why.find("UTF-8"), std::string::npos) << why;
      EXPECT_THROW(Text(bad, c), db::Error);
    }
  }
  EXPECT_FALSE(db::access::write::CollationFromSortOrder(1036, 0).has_value());
  EXPECT_EQ(db::access::write::CollationFromSortOrder(1033, 1), TextCollation::kGeneral);
}

// ---- beyond Latin-1 ------------------------------------------------------------------------

TEST(IndexKeyTables, EveryCodeUnitDecodesToTheWeightsItWasMadeFrom) {
  EXPECT_TRUE(db::access::write::IndexWeightsMatchTheirSource(TextCollation::kGeneralLegacy));
  EXPECT_TRUE(db::access::write::IndexWeightsMatchTheirSource(TextCollation::kGeneral));
}

// Whole keys that show each part of the layout: weights of several bytes, extra bytes, the
// flags of kana, surrogate pairs, a modifier, unprintable units after flags.
TEST(IndexKeyText, LayoutBeyondLatin1) {
  struct Case {
    const char* utf8;
    TextCollation collation;
    Bytes key;
  };
  const TextCollation L = TextCollation::kGeneralLegacy, G = TextCollation::kGeneral;
  const Case cases[] = {
      // t, then U+1F600 as its two units: weights B0 3F and B6 FC, each with the extra 3F.
      {"t\xF0\x9F\x98\x80", L, {0x7F, 0x6D, 0xB0, 0x3F, 0xB6, 0xFC, 0x01, 0x02, 0x3F, 0x3F, 0x00}},
      {"t\xF0\x9F\x98\x80",
       G,
       {0x7F, 0x0E, 0x99, 0xB0, 0x3F, 0xB6, 0xFC, 0x01, 0x02, 0x3F, 0x3F, 0x00}},
      // U-diaeresis, n, i-diaeresis, c, o-stroke, d, e-acute, _, the CJK U+8868.
      {"\xC3\x9Cn\xC3\xAF"
       "c\xC3\xB8"
       "d\xC3\xA9_\xE8\xA1\xA8",
       L,
       {0x7F, 0x6F, 0x62, 0x59, 0x4D, 0x64, 0x4F, 0x51, 0x2B, 0x03, 0xDA,
        0x40, 0x01, 0x13, 0x02, 0x13, 0x02, 0x21, 0x02, 0x0E, 0x00}},
      {"\xC3\x9Cn\xC3\xAF"
       "c\xC3\xB8"
       "d\xC3\xA9_\xE8\xA1\xA8",
       G,
       {0x7F, 0x0E, 0x9F, 0x0E, 0x21, 0x0E, 0x70, 0x0E, 0x32, 0x0E, 0x0A,
        0x0E, 0x7C, 0x0E, 0x1A, 0x0E, 0x21, 0x07, 0x44, 0xFD, 0xFF, 0x77,
        0x48, 0x01, 0x02, 0x02, 0x13, 0x02, 0x21, 0x02, 0x0E, 0x00}},
      // Hebrew.
      {"\xD7\xA2\xD7\x91\xD7\xA8\xD7\x99\xD7\xAA",
       G,
       {0x7F, 0x28, 0x14, 0x28, 0x03, 0x28, 0x1A, 0x28, 0x0B, 0x28, 0x1C, 0x01, 0x00}},
      // Small and normal hiragana A: flags 2 and 3, the trailing 3 dropped, one packed byte.
      {"\xE3\x81\x81\xE3\x81\x82",
       L,
       {0x7F, 0x7F, 0x02, 0x7F, 0x02, 0x01, 0x01, 0x01, 0xA0, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}},
      // Normal A alone: its flag is dropped, the flag run's end stays.
      {"\xE3\x81\x82", G, {0x7F, 0x7F, 0x02, 0x01, 0x01, 0x01, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}},
      // Small A, hyphen, e + combining acute: flags, FF, then the unprintable run.
      {"\xE3\x81\x81-e\xCC\x81", G, {0x7F, 0x7F, 0x02, 0x0E, 0x21, 0x01, 0x02, 0x0E,
                                     0x01, 0x01, 0xA0, 0xFF, 0x02, 0x80, 0xFF, 0x80,
                                     0xFF, 0x01, 0x80, 0x0B, 0x06, 0x82, 0x00}},
      // A combining acute first: it opens the extra run by itself and does not count in the
      // position of the hyphen.
      {"\xCC\x81x-y",
       L,
       {0x7F, 0x75, 0x76, 0x01, 0x0C, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x82, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.utf8) + (c.collation == L ? " (legacy)" : " (General)"));
    EXPECT_EQ(Text(c.utf8, c.collation), c.key);
  }
}

// Texts a unique index takes for one and the same (their keys are equal), and texts it keeps
// apart.
TEST(IndexKeyText, WhatTheCollationFoldsAndWhatItKeeps) {
  const std::pair<std::u16string, std::u16string> same[] = {
      {u"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC",
       u"\u0395\u039B\u039B\u0397\u039D\u0399\u039A\u0386"},
      {u"\u03A9mega", u"\u03C9MEGA"},
      {u"\u0416\u0443\u043A", u"\u0436\u0423\u041A"},  // Cyrillic
      {u"Stra\u00DFe", u"STRASSE"},
      {u"a\u200Db", u"ab"},             // a zero-width joiner is ignored
      {u"e\u0301", u"\u00E9"},          // e + combining acute is e-acute
      {u"\uFF21\uFF42\uFF43", u"abc"},  // full-width letters
      {u"\u00DCn\u00EF\u8868  ", u"\u00FCN\u00CF\u8868"},
  };
  const std::pair<std::u16string, std::u16string> apart[] = {
      {u"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03B1",
       u"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC"},
      {u"\u3041", u"\u3042"},  // small and normal kana
      {u"a-b", u"ab"},
      {u"t\U0001F600", u"t\U0001F601"},
      {u"\u8868", u"\u8863"},
      {u"\u05E2", u"\u05E2\u05B8"},  // a Hebrew point
  };
  for (TextCollation c : {TextCollation::kGeneralLegacy, TextCollation::kGeneral}) {
    for (const auto& [a, b] : same)
      EXPECT_TRUE(db::access::write::SameIndexText(a, b, c)) << Hex(a);
    for (const auto& [a, b] : apart)
      EXPECT_FALSE(db::access::write::SameIndexText(a, b, c)) << Hex(a);
  }
  // Every capital of Greek, Cyrillic, Armenian and the full-width Latin letters has the key of
  // its small letter.
  const struct {
    char16_t first, last, toSmall;
  } ranges[] = {{0x0391, 0x03A9, 0x20},
                {0x0400, 0x040F, 0x50},
                {0x0410, 0x042F, 0x20},
                {0x0531, 0x0556, 0x30},
                {0xFF21, 0xFF3A, 0x20}};
  for (TextCollation c : {TextCollation::kGeneralLegacy, TextCollation::kGeneral}) {
    for (const auto& r : ranges) {
      for (char16_t u = r.first; u <= r.last; ++u) {
        if (u == 0x03A2) continue;  // not a letter
        const std::u16string capital(1, u), small(1, static_cast<char16_t>(u + r.toSmall));
        EXPECT_TRUE(db::access::write::SameIndexText(capital, small, c)) << Hex(capital);
      }
    }
  }
}

// Random names of many scripts: a key starts with the weights of its characters in order, so
// that sorting by keys sorts by those weights, and names with the same weights order by their
// accents, flags and unprintable characters, the plain one first.
TEST(IndexKeyText, RandomNamesSortByTheWeightsOfTheirCharacters) {
  const std::uint32_t seed = 20261208u;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  // Pools of code units (a pair stands for a character beyond the Basic Multilingual Plane).
  const std::vector<std::u16string> pool = [] {
    std::vector<std::u16string> out;
    auto range = [&](char16_t a, char16_t b) {
      for (char16_t c = a; c <= b; ++c) out.push_back(std::u16string(1, c));
    };
    range(u'0', u'9');
    range(u'A', u'Z');
    range(u'a', u'z');
    range(0xC0, 0xFF);  // Latin-1 letters
    range(0x391, 0x3C9);
    range(0x410, 0x44F);  // Greek, Cyrillic
    range(0x5D0, 0x5EA);
    range(0x627, 0x64A);    // Hebrew, Arabic
    range(0x3041, 0x3096);  // hiragana (flagged)
    for (char16_t c : {u'-', u'\'', u'_', char16_t(0x301), char16_t(0x308), char16_t(0x200D)})
      out.push_back(std::u16string(1, c));  // unprintable, combining, ignored
    for (int i = 0; i < 40; ++i)
      out.push_back(std::u16string(1, static_cast<char16_t>(0x4E00 + 397 * i)));
    for (char32_t e = 0x1F600; e < 0x1F650; e += 7)
      out.push_back({static_cast<char16_t>(0xD800 + ((e - 0x10000) >> 10)),
                     static_cast<char16_t>(0xDC00 + ((e - 0x10000) & 0x3FF))});
    return out;
  }();

  for (TextCollation c : {TextCollation::kGeneralLegacy, TextCollation::kGeneral}) {
    SCOPED_TRACE(c == TextCollation::kGeneral ? "General" : "General (legacy)");
    // The weights of one character: its key alone, between the flag byte and the first 0x01.
    auto weightsOf = [&](const std::u16string& ch) {
      Bytes k = IndexKeyBuilder().addText(ch, c).take();
      return Bytes(k.begin() + 1, std::find(k.begin() + 1, k.end(), 0x01));
    };
    struct Name {
      std::u16string text;
      Bytes weights;
      Bytes key;
    };
    std::vector<Name> names;
    for (int i = 0; i < 3000; ++i) {
      Name n;
      int length = 1 + below(10);
      for (int k = 0; k < length; ++k) {
        const std::u16string& ch = pool[below(static_cast<int>(pool.size()))];
        n.text += ch;
        Bytes w = weightsOf(ch);
        n.weights.insert(n.weights.end(), w.begin(), w.end());
      }
      if (i % 5 == 0 && !names.empty()) {  // now and then the letters of an earlier name
        n = names[below(static_cast<int>(names.size()))];
        n.text += u"\u0301";
      }
      n.key = IndexKeyBuilder().addText(n.text, c).take();
      ASSERT_GE(n.key.size(), n.weights.size() + 3);
      ASSERT_EQ(Bytes(n.key.begin() + 1, n.key.begin() + 1 + n.weights.size()), n.weights)
          << Hex(n.text);
      ASSERT_EQ(n.key[1 + n.weights.size()], 0x01) << Hex(n.text);
      names.push_back(std::move(n));
    }
    std::sort(names.begin(), names.end(),
              [](const Name& a, const Name& b) { return a.key < b.key; });
    for (std::size_t i = 1; i < names.size(); ++i) {
      const Name& a = names[i - 1];
      const Name& b = names[i];
      Bytes wa = a.weights, wb = b.weights;
      wa.push_back(0x01);
      wb.push_back(0x01);
      ASSERT_LE(wa, wb) << Hex(a.text) << " before " << Hex(b.text);
      // Among names of the same weights, those with nothing else come first.
      if (wa == wb && b.key.size() == b.weights.size() + 3) {
        EXPECT_EQ(a.key, b.key);
      }
    }
  }
}

TEST(IndexKeyNumbers, SignBitFlippedBigEndian) {
  EXPECT_EQ(IndexKeyBuilder().addLong(1).take(), (Bytes{0x7F, 0x80, 0x00, 0x00, 0x01}));
  EXPECT_EQ(IndexKeyBuilder().addLong(-1).take(), (Bytes{0x7F, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(IndexKeyBuilder().addLong(1, false).take(), (Bytes{0x80, 0x7F, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(IndexKeyBuilder().addInteger(-2).take(), (Bytes{0x7F, 0x7F, 0xFE}));
  EXPECT_EQ(IndexKeyBuilder().addNull().addNull(false).take(), (Bytes{0x00, 0xFF}));
}

}  // namespace
