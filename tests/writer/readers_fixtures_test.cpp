// The three readers (mdb-reader, libmdb and our layer) against the files Access made: they must
// see the same tables, columns and values, or the comparisons the writer tests make would prove
// nothing.
#include <gtest/gtest.h>

#include "tests/support/fixtures.h"
#include "tests/support/outside_readers.h"

namespace testsupport {
namespace {

// Unencrypted files our engine reads (Jet 4 and ACE), with the password where there is one.
struct Readable {
  const char* name;
  const char* password;
};
const Readable kReadable[] = {
    {"jet4-empty-2000.mdb", ""},
    {"jet4-empty-2003.mdb", ""},
    {"jet4-nopassword-2003.mdb", ""},
    {"jet4-numeric-2003.mdb", ""},
    {"jet4-password-2000.mdb", "password"},
    {"jet4-password-2003.mdb", "password"},
    {"ace12-empty-2007.accdb", ""},
    {"ace14-empty-2010.accdb", ""},
    {"ace16-empty-2016.accdb", ""},
    {"ace14-test-2010.accdb", ""},
    {"ace16-longtext.accdb", ""},
    {"ace16-deleted-column.accdb", ""},
};

TEST(OutsideReaders, AllThreeAgreeOnEveryFixture) {
  ROWSIFTER_REQUIRE_FIXTURES();
  ROWSIFTER_REQUIRE_MDB_READER();
  for (const Readable& f : kReadable) {
    SCOPED_TRACE(f.name);
    std::string path = Fixture(f.name);
    ReadDatabase outside = ReadWithMdbReader(path, f.password);
    ReadDatabase libmdb = ReadWithLibmdb(path);
    ReadDatabase ours = ReadWithOurLayer(path, f.password);
    EXPECT_EQ(FirstDifference(BlankAsNull(outside), libmdb, "mdb-reader against libmdb"),
              std::nullopt);
    EXPECT_EQ(FirstDifference(WithoutTypes(outside), ours, "mdb-reader against our layer"),
              std::nullopt);
  }
}

}  // namespace
}  // namespace testsupport

namespace testsupport {
namespace {

// The text forms must match the ones dump.mjs prints, or every reading with numbers or dates
// would differ.
TEST(OutsideReaders, NumbersAndDatesPrintLikeTheJavaScriptReader) {
  EXPECT_EQ(PlainNumberText(444.555, false), "444.555");
  EXPECT_EQ(PlainNumberText(1e21, false), "1000000000000000000000");
  EXPECT_EQ(PlainNumberText(-1.5e-7, false), "-0.00000015");
  EXPECT_EQ(PlainNumberText(0.1f, true), "0.1");  // the single's own shortest digits
  EXPECT_EQ(PlainNumberText(-0.0, false), "0");
  EXPECT_EQ(CanonicalDecimal("-0.0000"), "0");
  EXPECT_EQ(CanonicalDecimal("003.5000"), "3.5");
  EXPECT_EQ(CanonicalDecimal("-12"), "-12");
  EXPECT_EQ(OleDateText(29932), "1981-12-12 00:00:00");
  EXPECT_EQ(OleDateText(0.5), "1899-12-30 12:00:00");
  EXPECT_EQ(OleDateText(-1.25), "1899-12-29 06:00:00");  // negative dates count days back
  EXPECT_EQ(OleDateText(36526 + 1.5 / 86400), "2000-01-01 00:00:01.500");
}

TEST(OutsideReaders, FirstDifferenceNamesWhatDiffers) {
  ReadDatabase a{{{"T", {{"A", "text"}, {"B", "long"}}, {{"x", "1"}, {std::nullopt, "2"}}}}};
  ReadDatabase b = a;
  EXPECT_EQ(FirstDifference(a, b), std::nullopt);
  std::swap(b.tables[0].columns[0], b.tables[0].columns[1]);  // same columns, other order
  for (ReadRow& row : b.tables[0].rows) std::swap(row[0], row[1]);
  EXPECT_EQ(FirstDifference(a, b), std::nullopt);
  b.tables[0].rows[1][1] = "";
  EXPECT_EQ(FirstDifference(a, b, "a against b"),
            "a against b: table 'T' row 1 column 'A': null against \"\"");
  EXPECT_EQ(FirstDifference(a, BlankAsNull(b)), std::nullopt);
  b.tables[0].rows.pop_back();
  EXPECT_NE(FirstDifference(a, b), std::nullopt);
}

}  // namespace
}  // namespace testsupport
