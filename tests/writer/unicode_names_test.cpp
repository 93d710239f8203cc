// Table names beyond Latin-1 in Access files: the rules Access has for names; round trips of
// such names on copies of a Jet 4 and an ACE file (made, filled, met again in another letter
// case or spelling, replaced, dropped), read back by our layer, libmdb and mdb-reader and checked
// page by page; and random names made and dropped many times, after which the catalogue's name
// index is still in order and holds no key twice.
#include <gtest/gtest.h>

#include <QString>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "db/base/error.h"
#include "db/access/write/catalog_rows.h"
#include "db/access/write/index_key.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"
#include "tests/writer/index_catalog_support.h"

namespace enginetest {
namespace {

using testsupport::ReadDatabase;
using testsupport::ReadTable;
using testsupport::TempDir;

const char* const kFiles[] = {"jet4-nopassword-2003.mdb", "ace14-test-2010.accdb"};

std::string Utf8(const std::u16string& s) { return QString::fromStdU16String(s).toStdString(); }

// The collation of the catalogue's names in a file.
db::access::write::TextCollation NameCollation(const std::string& path) {
  auto io = indextest::MemoryPageIo::FromFile(path);
  const auto name = indextest::ReadCatalogDefinition(io).column("Name");
  return db::access::write::CollationFromSortOrder(name.sortOrder, name.sortVersion).value();
}

std::vector<std::string> Names(const ReadDatabase& db) {
  std::vector<std::string> out;
  for (const ReadTable& t : db.tables) out.push_back(t.name);
  return out;
}

// The three readers agree and our checker finds nothing wrong; gives our layer's reading.
ReadDatabase ExpectReadableEverywhere(const std::string& path) {
  using namespace testsupport;
  ReadDatabase ours = ReadWithOurLayer(path);
  EXPECT_EQ(FirstDifference(BlankAsNull(AsLibmdbReadsIt(ours)), WithoutTypes(ReadWithLibmdb(path)),
                            "our layer against libmdb"),
            std::nullopt);
  if (auto why = MdbReaderUnavailable()) {
    std::cout << "mdb-reader not run: " << *why << "\n";
  } else {
    EXPECT_EQ(FirstDifference(WithoutTypes(ReadWithMdbReader(path)), ours,
                              "mdb-reader against our layer"),
              std::nullopt);
  }
  db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
  for (const std::string& p : report.problems) ADD_FAILURE() << path << ": " << p;
  return ours;
}

std::string Refusal(db::Session& s, const std::string& sql) {
  try {
    s.execute(sql);
  } catch (const db::Error& e) {
    return e.description();
  }
  return {};
}

TEST(UnicodeNames, NameRulesAreThoseOfAccess) {
  const std::u16string emoji = u"\U0001F600";
  std::u16string longest;  // 64 UTF-16 units, as Access counts them
  for (int i = 0; i < 32; ++i) longest += emoji;
  struct Case {
    std::u16string name;
    bool valid;
  };
  const Case cases[] = {
      {u"\u00DCn\u00EF"
       u"c\u00F8"
       u"d\u00E9_\u8868",
       true},
      {u"t" + emoji, true},
      {u"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC", true},
      {u"\u05E2\u05D1\u05E8\u05D9\u05EA", true},
      {u"\u03A9mega #1 (x) - y's", true},
      {u"a\u200Db\uFE0F", true},
      {longest, true},
      {longest.substr(0, 63) + u"a", true},
      {longest + u"a", false},
      {std::u16string(65, u'x'), false},
      {u"", false},
      {u" leading", false},
      {u"trailing ", true},
      {u"a.b", false},
      {u"a!b", false},
      {u"a`b", false},
      {u"a[b", false},
      {u"a]b", false},
      {u"a\tb", false},
      {std::u16string(u"a\0b", 3), false},
      {u"a\u007Fb", false},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(db::access::write::ValidTableName(c.name, &why), c.valid)
        << Utf8(c.name) << ": " << why;
    if (!c.valid) {
      EXPECT_FALSE(why.empty());
    }
  }
}

TEST(UnicodeNames, MadeFilledMetAgainInAnotherCaseAndDropped) {
  ROWSIFTER_REQUIRE_FIXTURES();
  std::string manyEmoji;
  for (int i = 0; i < 32; ++i) manyEmoji += "\xF0\x9F\x98\x80";
  const std::vector<std::string> names = {
      "\xC3\x9Cn\xC3\xAF"
      "c\xC3\xB8"
      "d\xC3\xA9_\xE8\xA1\xA8",                                            // Ünïcødé_表
      "t\xF0\x9F\x98\x80",                                                 // t😀
      "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC",  // Ελληνικά
      "\xD7\xA2\xD7\x91\xD7\xA8\xD7\x99\xD7\xAA",                          // עברית
      "\xCE\xA9mega",                                                      // Ωmega
      "Stra\xC3\x9F"
      "e",  // Straße
      "ab",
      manyEmoji,  // 64 UTF-16 units
  };
  // The same names in another letter case or spelling, found as the tables above.
  const std::vector<std::string> sameAgain = {
      "\xC3\xBCN\xC3\x8F"
      "C\xC3\x98"
      "D\xC3\x89_\xE8\xA1\xA8",                                            // üNÏCØDÉ_表
      "T\xF0\x9F\x98\x80",                                                 // T😀
      "\xCE\x95\xCE\x9B\xCE\x9B\xCE\x97\xCE\x9D\xCE\x99\xCE\x9A\xCE\x86",  // ΕΛΛΗΝΙΚΆ
      "\xD7\xA2\xD7\x91\xD7\xA8\xD7\x99\xD7\xAA  ",                        // trailing blanks
      "\xCF\x89MEGA",                                                      // ωMEGA
      "STRASSE",
      "a\xE2\x80\x8D"
      "b",  // a, zero-width joiner, b
  };
  const std::vector<std::string> values = {"x", "Z\xC3\xBCrich", "\xE6\x9D\xB1\xE4\xBA\xAC",
                                           "\xF0\x9F\x98\x80 ok", "O'Brien"};
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    TempDir dir;
    const std::string path = dir.copyFixture(file);
    const std::vector<std::string> before = Names(testsupport::ReadWithOurLayer(path));
    const std::size_t leaked = db::access::check::CheckJetFile(path).leakedPages.size();

    for (const std::string& name : names) EXPECT_EQ(ExportValues(path, name, values), 0) << name;
    {
      ReadDatabase read = ExpectReadableEverywhere(path);
      for (const std::string& name : names) {
        const ReadTable* t = read.find(name);
        ASSERT_NE(t, nullptr) << name;
        EXPECT_EQ(t->rows.size(), values.size());
      }
    }

    // Made again under another case or spelling: the table exists already and the file stays
    // as it was.
    {
      auto s = OpenRw(path);
      const std::string bytes = FileBytes(path);
      for (const std::string& name : sameAgain)
        EXPECT_NE(Refusal(*s, db::CreateTableStatement(name, "Value")).find("already exists"),
                  std::string::npos)
            << name;
      s.reset();
      EXPECT_EQ(FileBytes(path), bytes);
    }

    // A name that differs in an accent is another table (Ελληνικα without the tonos).
    const std::string plain = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xB1";
    EXPECT_EQ(ExportValues(path, plain, {"plain"}), 0);
    // Replacing through another case: the old table goes, the new one has the new name.
    EXPECT_EQ(ExportValues(path, "\xCF\x89MEGA", {"new"}), 0);
    {
      auto s = OpenRw(path);
      EXPECT_TRUE(Lists(*s, plain));
      EXPECT_TRUE(Lists(*s, names[2]));
      EXPECT_TRUE(Lists(*s, "\xCF\x89MEGA"));
      EXPECT_FALSE(Lists(*s, names[4]));
      EXPECT_EQ(Column(*s, "\xCF\x89MEGA"), std::vector<std::string>{"new"});
    }
    ExpectReadableEverywhere(path);

    // Dropped, some through another case or spelling.
    {
      auto s = OpenRw(path);
      for (const std::string& name : {sameAgain[0], sameAgain[1], sameAgain[5], names[2], names[3],
                                      names[6], names[7], plain, std::string("\xCF\x89mega")})
        EXPECT_EQ(Refusal(*s, db::DropTableStatement(name)), "") << name;
      EXPECT_NE(Refusal(*s, db::DropTableStatement(names[1])), "");  // gone already
    }
    ReadDatabase after = ExpectReadableEverywhere(path);
    EXPECT_EQ(Names(after), before);
    EXPECT_LE(db::access::check::CheckJetFile(path).leakedPages.size(), leaked);
  }
}

// The checker finds a unique index that holds one key twice: a copy where the key of one
// catalogue row in MSysObjects' ParentId + Name index is made that of another.
TEST(UnicodeNames, CheckerFindsAKeyTwiceInTheUniqueNameIndex) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    TempDir dir;
    const std::string path = dir.copyFixture(file);
    ExportValues(path,
                 "Dup\xCE\xA9"
                 "1",
                 {"a"});
    ExportValues(path,
                 "Dup\xCE\xA9"
                 "2",
                 {"b"});
    ASSERT_TRUE(db::access::check::CheckJetFile(path).ok());

    // The text part of both keys (same length), found once in the file: the second becomes the
    // first.
    const db::access::write::TextCollation c = NameCollation(path);
    auto textKey = [&](const char* name) {
      std::vector<unsigned char> k =
          db::access::write::IndexKeyBuilder().addText(std::string(name), c).take();
      return std::string(k.begin(), k.end());
    };
    const std::string first = textKey(
                          "Dup\xCE\xA9"
                          "1"),
                      second = textKey(
                          "Dup\xCE\xA9"
                          "2");
    ASSERT_EQ(first.size(), second.size());
    std::string bytes = FileBytes(path);
    std::size_t at = bytes.find(second);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(bytes.find(second, at + 1), std::string::npos);
    bytes.replace(at, second.size(), first);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

    db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("unique but holds one key twice"), std::string::npos)
        << report.problems[0];
  }
}

// Random names from many scripts, made and dropped in many transactions. A name is refused as
// existing exactly when a table of the file has the same key or the same letters in another
// case; at the end the checker finds the name index in order, without a key twice, and every
// reader lists the tables the model expects.
TEST(UnicodeNames, RandomNamesMadeAndDroppedKeepTheNameIndexSound) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::uint32_t seed = 20261209u;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  // The first character of every name is outside Latin-1, so that no name meets the file's
  // own tables.
  auto lead = [&]() -> std::u16string {
    switch (below(5)) {
      case 0:
        return {static_cast<char16_t>(0x391 + below(17))};  // Greek capitals
      case 1:
        return {static_cast<char16_t>(0x430 + below(32))};  // Cyrillic small
      case 2:
        return {static_cast<char16_t>(0x5D0 + below(27))};  // Hebrew
      case 3:
        return {static_cast<char16_t>(0x4E00 + below(3000))};
      default: {
        char32_t e = 0x1F600 + below(80);
        return {static_cast<char16_t>(0xD800 + ((e - 0x10000) >> 10)),
                static_cast<char16_t>(0xDC00 + ((e - 0x10000) & 0x3FF))};
      }
    }
  };
  auto any = [&]() -> std::u16string {
    switch (below(8)) {
      case 0:
        return {static_cast<char16_t>(u'a' + below(26))};
      case 1:
        return {static_cast<char16_t>(0xC0 + below(0x3F))};
      case 2:
        return {u"-'_ #0"[below(6)]};
      case 3:
        return {u"\u0301\u0308\u200D\u00DF"[below(4)]};  // combining, ignored, sharp s
      case 4:
        return {static_cast<char16_t>(0x3041 + below(80))};  // hiragana
      default:
        return lead();
    }
  };

  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    TempDir dir;
    const std::string path = dir.copyFixture(file);
    const db::access::write::TextCollation collation = NameCollation(path);
    const std::vector<std::string> before = Names(testsupport::ReadWithOurLayer(path));
    std::vector<std::u16string> model;  // our tables, as made
    auto same = [&](const std::u16string& a, const std::u16string& b) {
      return db::access::write::SameIndexText(a, b, collation) ||
             QString::fromStdU16String(a).compare(QString::fromStdU16String(b),
                                                  Qt::CaseInsensitive) == 0;
    };
    auto matches = [&](const std::u16string& name) {
      return std::count_if(model.begin(), model.end(),
                           [&](const std::u16string& m) { return same(m, name); });
    };

    db::Connection connection;
    connection.setMode(db::OpenMode::ReadWrite);
    connection.open(db::BuildConnectionString(path, ""));
    int made = 0, refused = 0, dropped = 0;
    for (int t = 0; t < 12; ++t) {
      connection.beginTrans();
      for (int step = 0; step < 25; ++step) {
        if (model.empty() || below(100) < 65) {
          std::u16string name;
          if (!model.empty() && below(4) == 0) {
            // Another case or spelling of a table we have.
            QString m = QString::fromStdU16String(model[below(static_cast<int>(model.size()))]);
            name = (below(2) ? m.toUpper() : m.toLower()).toStdU16String();
            if (below(3) == 0) {  // with a zero-width joiner, not inside a surrogate pair
              std::size_t at = 1 + static_cast<std::size_t>(below(static_cast<int>(name.size())));
              if (at < name.size() && name[at] >= 0xDC00 && name[at] <= 0xDFFF) ++at;
              name.insert(at, u"\u200D");
            }
          } else {
            name = lead();
            for (int k = below(15); k > 0; --k) name += any();
          }
          std::string why;
          if (!db::access::write::ValidTableName(name, &why)) continue;
          const bool exists = matches(name) > 0;
          std::string sql = db::CreateTableStatement(Utf8(name), "Value");
          try {
            connection.execute(sql);
            EXPECT_FALSE(exists) << "made a second table of the name " << Utf8(name);
            model.push_back(name);
            ++made;
          } catch (const db::Error& e) {
            EXPECT_TRUE(exists) << Utf8(name) << ": " << e.description();
            EXPECT_NE(e.description().find("already exists"), std::string::npos) << e.description();
            ++refused;
          }
        } else {
          std::size_t at = static_cast<std::size_t>(below(static_cast<int>(model.size())));
          std::u16string name = model[at];
          std::u16string upper = QString::fromStdU16String(name).toUpper().toStdU16String();
          // Now and then through another case, when that names this table alone ("STRASSE"
          // can be another table than "Straße": their keys differ once an accent follows).
          if (below(2) && same(name, upper) && matches(upper) == 1) name = upper;
          ASSERT_NO_THROW(connection.execute(db::DropTableStatement(Utf8(name)))) << Utf8(name);
          model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
          ++dropped;
        }
      }
      connection.commitTrans();
      if (t % 4 == 3) {
        db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
        for (const std::string& p : report.problems)
          ADD_FAILURE() << "after transaction " << t << ": " << p;
      }
    }
    connection.close();
    std::cout << file << ": " << made << " tables made, " << refused << " refused as existing, "
              << dropped << " dropped, " << model.size() << " kept\n";
    EXPECT_GT(refused, 10);

    std::vector<std::string> expected = before;
    for (const std::u16string& name : model) expected.push_back(Utf8(name));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(ExpectReadableEverywhere(path)), expected);
  }
}

}  // namespace
}  // namespace enginetest
