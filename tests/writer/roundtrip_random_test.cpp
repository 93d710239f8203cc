// Random round trips through the Access writer: on copies of a Jet 4 and an ACE file, many tables
// with random names are made, filled with thousands of random values, some dropped, in several
// transactions (some rolled back), with names and values the engine must refuse mixed in. At the
// end our checker finds nothing wrong, no page leaked, and our layer, libmdb and mdb-reader all
// read exactly the tables and values a simple model of the work expects.
//
// The seed is fixed and printed with every failure; ROWSIFTER_ROUNDTRIP_SEED replays another.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "db/base/error.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"

namespace enginetest {
namespace {

using testsupport::ReadDatabase;
using testsupport::ReadTable;
using testsupport::TempDir;

constexpr int kTransactions = 9;
constexpr int kMaxName = 64;
constexpr int kMaxText = 255;

// Random names and values of the kinds the export meets.
// UTF-16 units of a UTF-8 text (a character beyond the Basic Multilingual Plane takes two).
std::size_t Utf16Units(const std::string& utf8) {
  std::size_t units = 0;
  for (char c : utf8) {
    unsigned char b = static_cast<unsigned char>(c);
    if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
  }
  return units;
}

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool chance(int percent) { return below(100) < percent; }

  char32_t ascii() { return static_cast<char32_t>(0x20 + below(0x7F - 0x20)); }
  char32_t accented() {  // the Latin-1 letters
    char32_t c;
    do c = static_cast<char32_t>(0xC0 + below(0x40));
    while (c == 0xD7 || c == 0xF7);
    return c;
  }
  char32_t otherScript() {
    switch (below(4)) {
      case 0:
        return static_cast<char32_t>(0x391 + below(0x3C9 - 0x391));  // Greek
      case 1:
        return static_cast<char32_t>(0x410 + below(0x40));  // Cyrillic
      case 2:
        return static_cast<char32_t>(0x5D0 + below(0x1B));  // Hebrew
      default:
        return static_cast<char32_t>(0x4E00 + below(0x5000));  // CJK
    }
  }
  char32_t emoji() { return static_cast<char32_t>(0x1F300 + below(0x350)); }

  // A table name Access accepts: printable ASCII without . ! ` [ ], Latin-1 letters, other
  // scripts and emoji, not beginning or ending with a space, at most 64 UTF-16 units. `serial`
  // keeps names unique (letter case ignored) and apart from the file's own tables:
  // "R<serial>_" leads, or "_R<serial>" ends a name whose other part often shares a stem with
  // others, so that the catalogue's name index gets neighbours differing only in case and
  // accents.
  std::string validName(int serial) {
    static const char* const kStems[] = {"Résultat", "resultat", "RÉSULTAT", "Ärger",
                                         "arger",    "Ελληνικά", "ΕΛΛΗΝΙΚΆ", "表"};
    const std::string tag = "R" + std::to_string(serial);
    const bool tagFirst = chance(50);
    std::string out = tagFirst ? tag + "_" : (chance(50) ? kStems[below(8)] : "");
    int room = kMaxName - static_cast<int>(Utf16Units(out)) -
               (tagFirst ? 0 : 1 + static_cast<int>(tag.size()));
    int length = chance(10) ? room : below(room + 1);
    if (tagFirst && length == 0) length = 1;
    for (int i = 0; i < length; ++i) {
      char32_t c;
      int pick = below(100);
      if (pick < 20) {
        c = accented();
      } else if (pick < 35) {
        c = otherScript();
      } else if (pick < 40 && i + 1 < length) {
        c = emoji();  // two units
        ++i;
      } else {
        do c = ascii();
        while (c == '.' || c == '!' || c == '`' || c == '[' || c == ']' ||
               (c == ' ' && (out.empty() || (tagFirst && i == length - 1))));
      }
      AppendUtf8(out, c);
    }
    if (!tagFirst) out += "_" + tag;
    return out;
  }

  // A name the engine cannot store: a forbidden sign, a control character, a leading space,
  // too long (in UTF-16 units), or empty.
  std::string invalidName(int serial) {
    std::string base = "Bad" + std::to_string(serial);
    std::string out = base;
    switch (below(6)) {
      case 0:
        out.insert(out.begin() + below(static_cast<int>(out.size()) + 1), ".![]`"[below(5)]);
        break;
      case 1:
        out += static_cast<char>(1 + below(0x1F));
        break;
      case 2:
        out = " " + out;
        break;
      case 3:
        out += std::string(kMaxName + 1 - base.size() + below(3), 'n');
        break;
      case 4:  // 64 units but for the emoji that makes 65
        out += std::string(kMaxName - 1 - base.size(), 'n');
        AppendUtf8(out, emoji());
        break;
      default:
        out.clear();
        break;
    }
    return out;
  }

  // A value of one of the kinds the export writes, at most 255 characters.
  std::string value() {
    std::string out;
    int kind = below(100);
    if (kind < 5) return out;  // empty
    if (kind < 10) {           // exactly as long as the column allows, one-unit characters
      for (int i = 0; i < kMaxText; ++i) AppendUtf8(out, mixedBmp());
      return out;
    }
    int length = 1 + below(chance(20) ? 200 : 30);
    for (int i = 0; i < length; ++i) {
      int pick = below(100);
      if (kind < 50)
        AppendUtf8(out, pick < 10 ? char32_t('\'') : ascii());
      else if (kind < 70)
        AppendUtf8(out, pick < 50 ? accented() : ascii());
      else if (kind < 85)
        AppendUtf8(out, pick < 60 ? otherScript() : ascii());
      else if (i < 50)
        AppendUtf8(out, pick < 40 ? emoji() : pick < 70 ? otherScript() : ascii());
    }
    return out;
  }

  // One character more than the column holds.
  std::string tooLong() {
    std::string out;
    for (int i = 0; i <= kMaxText; ++i) AppendUtf8(out, mixedBmp());
    return out;
  }

 private:
  char32_t mixedBmp() {
    switch (below(3)) {
      case 0:
        return ascii();
      case 1:
        return accented();
      default:
        return otherScript();
    }
  }

  std::mt19937 rng_;
};

// What the file should hold: the tables we made, by name, with their values in insertion order.
using Model = std::map<std::string, std::vector<std::string>>;

// The expected reading: the file's own tables as our layer read them before, and ours.
ReadDatabase Expected(const ReadDatabase& original, const Model& model) {
  ReadDatabase out = original;
  for (const auto& [name, values] : model) {
    ReadTable table;
    table.name = name;
    table.columns.push_back({"Value", ""});
    for (const std::string& v : values) table.rows.push_back({v});
    out.tables.push_back(std::move(table));
  }
  std::sort(out.tables.begin(), out.tables.end(),
            [](const ReadTable& a, const ReadTable& b) { return a.name < b.name; });
  return out;
}

// Rows in a fixed order: a table reused pages given back by a dropped one, so readers may meet
// its rows in another order than they were inserted.
ReadDatabase RowsSorted(ReadDatabase db) {
  for (ReadTable& t : db.tables) std::sort(t.rows.begin(), t.rows.end());
  return db;
}

bool Refused(const std::function<void()>& statement) {
  try {
    statement();
  } catch (const db::Error&) {
    return true;
  }
  return false;
}

std::uint32_t Seed() {
  if (const char* s = std::getenv("ROWSIFTER_ROUNDTRIP_SEED"))
    return static_cast<std::uint32_t>(std::strtoul(s, nullptr, 10));
  return 20261207u;
}

void RoundTrip(const std::string& fixture, std::uint32_t seed) {
  TempDir dir;
  const std::string path = dir.copyFixture(fixture);
  const std::string cs = db::BuildConnectionString(path, "");
  const ReadDatabase original = testsupport::ReadWithOurLayer(path);
  const std::size_t leakedBefore = db::access::check::CheckJetFile(path).leakedPages.size();

  Generator gen(seed);
  Model model;
  std::vector<std::string> dropped;  // names given up, made again later now and then
  int serial = 0;
  int refusedValues = 0, refusedNames = 0, rows = 0, created = 0, drops = 0;

  db::Connection connection;
  connection.setMode(db::OpenMode::ReadWrite);
  connection.open(cs);

  auto insertSome = [&](Model& m, const std::string& table, int count) {
    for (int i = 0; i < count; ++i) {
      if (gen.chance(2)) {
        ASSERT_TRUE(Refused([&] { connection.execute(db::InsertStatement(table, gen.tooLong())); }))
            << "a value of 256 characters was accepted into " << table;
        ++refusedValues;
        continue;
      }
      std::string v = gen.value();
      ASSERT_NO_THROW(connection.execute(db::InsertStatement(table, v)))
          << "table " << table << ", value " << v;
      m[table].push_back(v);
      ++rows;
    }
  };

  // Statements the engine refuses outside a transaction leave the file's bytes as they were.
  auto refusedUntouched = [&](const std::string& sql) {
    const std::string before = FileBytes(path);
    EXPECT_TRUE(Refused([&] { connection.execute(sql); })) << "accepted: " << sql;
    EXPECT_EQ(FileBytes(path), before) << "file changed by the refused statement " << sql;
  };

  for (int t = 0; t < kTransactions; ++t) {
    SCOPED_TRACE("transaction " + std::to_string(t));
    const bool rollBack = t % 3 == 1;
    Model work = model;
    std::vector<std::string> workDropped = dropped;

    connection.beginTrans();
    for (int step = 0; step < 16; ++step) {
      int what = gen.below(100);
      if (what < 25 || work.empty()) {
        std::string name;
        if (!workDropped.empty() && gen.chance(20)) {
          name = workDropped.back();
          workDropped.pop_back();
        } else {
          name = gen.validName(serial++);
        }
        ASSERT_NO_THROW(connection.execute(db::CreateTableStatement(name, "Value"))) << name;
        work[name];
        ++created;
        insertSome(work, name, 50 + gen.below(400));
      } else if (what < 35) {
        auto it = std::next(work.begin(), gen.below(static_cast<int>(work.size())));
        ASSERT_NO_THROW(connection.execute(db::DropTableStatement(it->first))) << it->first;
        workDropped.push_back(it->first);
        ++drops;
        work.erase(it);
      } else if (what < 45) {
        // Refused names inside a transaction: the transaction goes on.
        std::string bad = gen.invalidName(serial++);
        EXPECT_TRUE(Refused([&] { connection.execute(db::CreateTableStatement(bad, "Value")); }))
            << "accepted table name '" << bad << "'";
        ++refusedNames;
      } else {
        auto it = std::next(work.begin(), gen.below(static_cast<int>(work.size())));
        insertSome(work, it->first, 20 + gen.below(200));
      }
      if (::testing::Test::HasFatalFailure()) return;
    }
    if (rollBack) {
      connection.rollbackTrans();
    } else {
      connection.commitTrans();
      model = std::move(work);
      dropped = std::move(workDropped);
    }

    // Another connection sees exactly the committed tables at once.
    for (const auto& [name, values] : model) EXPECT_TRUE(db::TableExists(cs, name)) << name;
    for (const std::string& name : dropped) {
      if (!model.count(name)) {
        EXPECT_FALSE(db::TableExists(cs, name)) << name;
      }
    }

    // Between transactions: refusals that must not touch the file, and a statement that commits
    // by itself.
    refusedUntouched(db::CreateTableStatement(gen.invalidName(serial++), "Value"));
    if (!model.empty()) {
      const std::string& some = model.begin()->first;
      refusedUntouched(db::CreateTableStatement(some, "Value"));  // exists already
      refusedUntouched(db::InsertStatement(some, gen.tooLong()));
      std::string v = gen.value();
      ASSERT_NO_THROW(connection.execute(db::InsertStatement(some, v)));
      model[some].push_back(v);
      ++rows;
    }
  }
  connection.close();

  std::cout << fixture << ": " << created << " tables made, " << drops << " dropped, "
            << model.size() << " kept, " << rows << " rows written, " << refusedValues
            << " values and " << refusedNames << " names refused\n";

  db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
  for (const std::string& p : report.problems) ADD_FAILURE() << "checker: " << p;
  EXPECT_LE(report.leakedPages.size(), leakedBefore);

  const ReadDatabase expected = RowsSorted(Expected(original, model));
  const ReadDatabase viaLibmdb = RowsSorted(AsLibmdbReadsIt(expected));
  EXPECT_EQ(testsupport::FirstDifference(expected, RowsSorted(testsupport::ReadWithOurLayer(path)),
                                         "expected against our layer"),
            std::nullopt);
  EXPECT_EQ(testsupport::FirstDifference(
                RowsSorted(testsupport::BlankAsNull(viaLibmdb)),
                RowsSorted(testsupport::WithoutTypes(testsupport::ReadWithLibmdb(path))),
                "expected against libmdb"),
            std::nullopt);
  if (auto why = testsupport::MdbReaderUnavailable()) {
    std::cout << "mdb-reader not run: " << *why << "\n";
  } else {
    EXPECT_EQ(
        testsupport::FirstDifference(
            expected, RowsSorted(testsupport::WithoutTypes(testsupport::ReadWithMdbReader(path))),
            "expected against mdb-reader"),
        std::nullopt);
  }
}

TEST(RoundTripRandomTest, TablesAndValuesReadBackEverywhere) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::uint32_t seed = Seed();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (ROWSIFTER_ROUNDTRIP_SEED replays another)");
  for (const char* fixture : {"jet4-nopassword-2003.mdb", "ace14-test-2010.accdb"}) {
    SCOPED_TRACE(fixture);
    RoundTrip(fixture, seed);
  }
}

}  // namespace
}  // namespace enginetest
