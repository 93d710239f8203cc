// Writing Access 97 (Jet 3) files through the engine, as the export does: a copy of the Access
// 97 fixture, read back by our layer, libmdb and mdb-reader and checked page by page.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "db/access/format/bytes.h"
#include "db/access/format/header.h"
#include "db/access/format/pages.h"
#include "db/access/write/data_page.h"
#include "db/access/write/index_key.h"
#include "db/access/write/lock_file.h"
#include "db/access/write/pager.h"
#include "db/base/error.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"

namespace enginetest {
namespace {

using testsupport::TempDir;

constexpr char kJet3[] = "jet3-test.mdb";

TEST(Jet3WriteTest, FixtureIsSoundToTheChecker) {
  ROWSIFTER_REQUIRE_FIXTURES();
  db::access::check::JetCheckReport report =
      db::access::check::CheckJetFile(testsupport::Fixture(kJet3));
  for (const std::string& p : report.problems) ADD_FAILURE() << p;
}

TEST(Jet3WriteTest, ExportKeepsWhatTheCodePageHoldsAndReadsTheSameEverywhere) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture(kJet3);
  std::size_t leaked = db::access::check::CheckJetFile(path).leakedPages.size();

  // Refused, each alone: a character code page 1252 has no byte for, a value one character too
  // long. The Western letters and signs of the code page are kept.
  const std::string longest(255, 'x');
  std::vector<std::string> values = {"O'Brien",
                                     "Z\xC3\xBCrich",
                                     "",
                                     "a b",
                                     longest,
                                     "\xE2\x82\xAC 5",
                                     "\xE8\xA1\xA8",
                                     "Caf\xC3\xA9 \xE8\xA1\xA8",
                                     std::string(256, 'y')};
  EXPECT_EQ(ExportValues(path, "Results", values), 3);
  std::vector<std::string> kept(values.begin(), values.begin() + 6);
  {
    auto s = OpenRw(path);
    EXPECT_TRUE(Lists(*s, "Results"));
    EXPECT_EQ(Column(*s, "Results"), kept);
  }
  EXPECT_LE(ExpectSoundFile(path), leaked);

  // Replacing: the old table goes, the new one holds only the new values.
  EXPECT_EQ(ExportValues(path, "results", {"one", "two"}), 0);
  {
    auto s = OpenRw(path);
    EXPECT_TRUE(Lists(*s, "results"));
    EXPECT_FALSE(Lists(*s, "Results"));
    EXPECT_EQ(Column(*s, "results"), (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(Lists(*s, "Table1"));
  }
  EXPECT_LE(ExpectSoundFile(path), leaked);
  EXPECT_FALSE(std::filesystem::exists(db::access::write::JournalPath(path)));
  EXPECT_FALSE(std::filesystem::exists(db::access::write::LockFilePath(path)));
}

TEST(Jet3WriteTest, ManyRowsFillPagesAndTheTableDropsWhole) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture(kJet3);
  const std::uintmax_t size = std::filesystem::file_size(path);
  std::size_t leaked = db::access::check::CheckJetFile(path).leakedPages.size();
  // Rows past 256 bytes carry a jump table; 300 rows fill several 2048-byte pages.
  std::vector<std::string> values;
  for (int i = 0; i < 300; ++i)
    values.push_back(
        std::string(static_cast<std::size_t>(i % 256), static_cast<char>('a' + i % 26)) +
        std::to_string(i));
  values.resize(300);
  int refused = ExportValues(path, "Many", values);
  std::vector<std::string> kept;
  for (const std::string& v : values)
    if (v.size() <= 255) kept.push_back(v);
  EXPECT_EQ(refused, static_cast<int>(values.size() - kept.size()));
  {
    auto s = OpenRw(path);
    EXPECT_EQ(Column(*s, "Many"), kept);
  }
  EXPECT_LE(ExpectSoundFile(path), leaked);
  OpenRw(path)->execute("DROP TABLE `Many`");
  EXPECT_LE(ExpectSoundFile(path), leaked);
  // Its pages went back to the file's page map and are taken again by the next table.
  const std::uintmax_t grown = std::filesystem::file_size(path);
  EXPECT_GT(grown, size);
  EXPECT_EQ(ExportValues(path, "Again", values), refused);
  EXPECT_EQ(std::filesystem::file_size(path), grown);
  EXPECT_LE(ExpectSoundFile(path), leaked);
}

TEST(Jet3WriteTest, NamesWhoseIndexKeyIsUnknownAreRefusedUntouched) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture(kJet3);
  const std::string before = FileBytes(path);
  auto s = OpenRw(path);
  for (const char* name : {"Spaced Name", "Caf\xC3\xA9", "under_score", "\xE8\xA1\xA8"}) {
    std::string message;
    EXPECT_EQ(
        ErrorNumber([&] { s->execute("CREATE TABLE `" + std::string(name) + "` (`F` VARCHAR)"); },
                    &message),
        db::errc::kNotSupported)
        << name;
    EXPECT_NE(message.find("Access 97"), std::string::npos) << message;
  }
  s.reset();
  EXPECT_EQ(FileBytes(path), before);
  // A table Access named with a character beyond them cannot leave the name index: refused.
  {
    std::string bytes = FileBytes(path);
    std::size_t at = bytes.find("Table2");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 3] = ' ';  // "Tab e2", in its catalogue row only (the index keeps the old key)
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
  const std::string renamed = FileBytes(path);
  s = OpenRw(path);
  std::string message;
  EXPECT_EQ(ErrorNumber([&] { s->execute("DROP TABLE `Tab e2`"); }, &message),
            db::errc::kNotSupported);
  EXPECT_NE(message.find("Access 97"), std::string::npos) << message;
  s.reset();
  EXPECT_EQ(FileBytes(path), renamed);
  s = OpenRw(path);
  // A table of the fixture: a name the catalogue already holds, whatever its letter case.
  EXPECT_EQ(ErrorNumber([&] { s->execute("CREATE TABLE `TABLE1` (`F` VARCHAR)"); }),
            db::errc::kFailed);
  s.reset();
  EXPECT_EQ(FileBytes(path), renamed);
  // Other tables are still written beside it.
  EXPECT_EQ(ExportValues(path, "Beside", {"kept"}), 0);
  EXPECT_EQ(Column(*OpenRw(path), "Beside"), std::vector<std::string>{"kept"});
}

// A Jet 3 file whose pages are RC4-encoded with the database key (made from the fixture by
// encoding every page but the header and setting the key in the header) is written encoded,
// pages of long values as well.
TEST(Jet3WriteTest, KeyedPagesAreWrittenEncoded) {
  ROWSIFTER_REQUIRE_FIXTURES();
  using namespace db::access::format;
  TempDir dir;
  std::string path = dir.copyFixture(kJet3);
  const std::uint32_t key = 0x1A2B3C4D;
  {
    std::string bytes = FileBytes(path);
    auto* data = reinterpret_cast<unsigned char*>(bytes.data());
    // The key sits inside the header's RC4-masked run.
    Rc4Apply(kHeaderKey, sizeof kHeaderKey, data + kEncryptedStart, kJet3EncryptedSize);
    Put32(data + kPageKeyAt, key);
    Rc4Apply(kHeaderKey, sizeof kHeaderKey, data + kEncryptedStart, kJet3EncryptedSize);
    for (std::size_t p = 1; p < bytes.size() / kJet3PageSize; ++p) {
      unsigned char k[4];
      Put32(k, key ^ static_cast<std::uint32_t>(p));
      Rc4Apply(k, 4, data + p * kJet3PageSize, kJet3PageSize);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
  std::size_t leaked = db::access::check::CheckJetFile(path).leakedPages.size();
  EXPECT_EQ(ExportValues(path, "Coded", {"plain text one", "plain text two"}), 0);
  {
    auto s = OpenRw(path);
    EXPECT_EQ(Column(*s, "Coded"), (std::vector<std::string>{"plain text one", "plain text two"}));
  }
  // Long values too: a row of a long-value page and a chain of them.
  std::string note;
  while (note.size() < 5000) note += "plain note " + std::to_string(note.size()) + "\r\n";
  const std::vector<std::string> notes = {note.substr(0, 1000), note};
  {
    db::Connection connection;
    connection.setMode(db::OpenMode::ReadWrite);
    connection.open(db::BuildConnectionString(path, ""));
    connection.execute(db::CreateTableStatement("Notes", "Value", true));
    for (const std::string& n : notes) connection.execute(db::InsertStatement("Notes", n));
  }
  {
    auto s = OpenRw(path);
    EXPECT_EQ(Column(*s, "Coded"), (std::vector<std::string>{"plain text one", "plain text two"}));
    EXPECT_EQ(Column(*s, "Notes"), notes);
  }
  EXPECT_LE(ExpectSoundFile(path), leaked);
  // Nothing of the new rows is stored as plain bytes.
  EXPECT_EQ(FileBytes(path).find("plain text"), std::string::npos);
  EXPECT_EQ(FileBytes(path).find("plain note"), std::string::npos);
}

// Jet 3 rows carry 8-bit starts and a jump table past 255 bytes: random rows of fixed and
// variable columns (some long enough for several jumps, some Null) read back as written.
TEST(Jet3Rows, RandomRowsReadBackAsWritten) {
  using db::access::write::Bytes;
  using db::access::write::RowColumn;
  using db::access::write::RowValue;
  std::mt19937 random(1997);
  for (int round = 0; round < 2000; ++round) {
    SCOPED_TRACE(round);
    const int fixedCount = std::uniform_int_distribution<int>(0, 4)(random);
    const int varCount = std::uniform_int_distribution<int>(1, 12)(random);
    std::vector<RowColumn> columns;
    int offset = 0;
    for (int i = 0; i < fixedCount + varCount; ++i) {
      RowColumn c;
      c.number = i;
      c.fixed = i < fixedCount;
      if (c.fixed) {
        c.fixedOffset = offset;
        c.length = 4;
        offset += 4;
      } else {
        c.varIndex = i - fixedCount;
      }
      columns.push_back(c);
    }
    std::vector<RowValue> values;
    for (const RowColumn& c : columns) {
      if (std::uniform_int_distribution<int>(0, 5)(random) == 0) {
        values.emplace_back(std::nullopt);
        continue;
      }
      std::size_t size = c.fixed ? 4 : std::uniform_int_distribution<std::size_t>(0, 300)(random);
      Bytes v(size);
      for (unsigned char& b : v) b = static_cast<unsigned char>(random());
      values.emplace_back(std::move(v));
    }
    Bytes row;
    try {
      row = db::access::write::EncodeRow(columns, values, static_cast<unsigned>(columns.size()),
                                         static_cast<unsigned>(varCount), true);
    } catch (const db::Error&) {
      continue;  // a row the 8-bit numbers cannot describe is refused, never written wrong
    }
    if (row.size() > db::access::write::MaxRowSize(2048)) continue;
    EXPECT_EQ(row[0], columns.size());
    EXPECT_EQ(db::access::write::DecodeRow(columns, row.data(), row.size(), true), values);
  }
}

// The keys of every name in the fixture's catalogue, made here, equal those Access 97 stored in
// the ParentId + Name index; names beyond letters and digits are refused.
TEST(Jet3Keys, TheCatalogueNamesKeyAsAccess97KeyedThem) {
  using db::access::write::IndexKeyBuilder;
  using db::access::write::TextCollation;
  // Entries read from the fixture's index (parent 0x0F000001, then the name).
  const struct {
    const char* name;
    const char* key;
  } kStored[] = {{"MSysObjects", "7f6f767d7672616b6662777600"},
                 {"Table1", "7f7760616d665700"},
                 {"Tables", "7f7760616d667600"},
                 {"DataAccessPages", "7f646077606062626676767360686676 00"},
                 {"UserDefined", "7f787666756466676a70666400"},
                 {"hijklmnop", "7f696a6b6c6d6f70727300"}};
  auto hex = [](const std::vector<unsigned char>& bytes) {
    std::string out;
    char two[3];
    for (unsigned char b : bytes) std::snprintf(two, sizeof two, "%02x", b), out += two;
    return out;
  };
  for (const auto& s : kStored) {
    std::string stored = s.key;
    stored.erase(std::remove(stored.begin(), stored.end(), ' '), stored.end());
    EXPECT_EQ(hex(IndexKeyBuilder()
                      .addText(std::string_view(s.name), TextCollation::kJet3General)
                      .take()),
              stored)
        << s.name;
  }
  // Letter case is ignored; digits and letters are the only characters with known weights.
  EXPECT_TRUE(db::access::write::SameIndexText(u"TABLE1", u"table1", TextCollation::kJet3General));
  for (const char* text : {"a b", "a_b", "a-b", "Ã©", "è¡¨", "xð"}) {
    std::string why;
    EXPECT_FALSE(db::access::write::CanEncodeIndexText(text, TextCollation::kJet3General, &why))
        << text;
    EXPECT_FALSE(why.empty());
    EXPECT_THROW(IndexKeyBuilder().addText(std::string_view(text), TextCollation::kJet3General),
                 db::Error);
  }
  EXPECT_THROW(
      IndexKeyBuilder().addText(std::string_view("ab"), TextCollation::kJet3General, false),
      db::Error);
}

// The checker reads Jet 3 files on its own: damage put into a copy of the fixture shows up.
TEST(Jet3Checker, DamageInACopyOfTheFixtureIsFound) {
  ROWSIFTER_REQUIRE_FIXTURES();
  using db::access::format::Get16;
  constexpr std::size_t kPage = 2048;
  // Table1: definition on page 29, its rows on data page 31, its primary key's leaf on 33.
  constexpr std::uint32_t kTable1 = 29, kRows = 31, kLeaf = 33;
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* expected;
  } kCases[] = {
      {"a row count off by one", [](std::string& b) { b[kTable1 * kPage + 12] += 1; },
       "says it has 3 rows, its pages hold 2"},
      {"a wrong free-space field", [](std::string& b) { b[kRows * kPage + 2] ^= 0x04; },
       "data page 31 says it has"},
      {"an index entry naming a missing row",
       [](std::string& b) {
         // The second entry of the leaf ends with the row number; make it row 5.
         const unsigned char* p = reinterpret_cast<const unsigned char*>(&b[kLeaf * kPage]);
         std::size_t end = 0;
         for (std::size_t bit = 1; bit < (0xF8 - 0x16) * 8; ++bit)
           if (p[0x16 + bit / 8] & (1u << (bit % 8))) end = bit;
         b[kLeaf * kPage + 0xF8 + end - 1] = 5;
       },
       "names row 5 of page 31, not a live row"},
      {"a data page marked free",
       [](std::string& b) {
         // The file's map: row 0 of page 1, an inline map from page 0.
         std::size_t start = Get16(reinterpret_cast<const unsigned char*>(&b[kPage + 10])) & 0x1FFF;
         b[kPage + start + 5 + kRows / 8] |= static_cast<char>(1 << (kRows % 8));
       },
       "page 31 of the rows of table 'Table1'"},
  };
  TempDir dir;
  const std::string original = FileBytes(testsupport::Fixture(kJet3));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::string bytes = original;
    c.damage(bytes);
    std::string path = dir.file("damaged.mdb");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
    std::string all;
    for (const std::string& p : report.problems) all += p + "\n";
    EXPECT_NE(all.find(c.expected), std::string::npos) << all;
  }
}

}  // namespace
}  // namespace enginetest
