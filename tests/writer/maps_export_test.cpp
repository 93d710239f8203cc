// Exports large enough that the file's and the table's page maps outgrow their inline form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"

namespace {

using testsupport::TempDir;

// The export's own path on a file: 100,000 values in one transaction through the database
// layer, read back by libmdb, mdb-reader and our layer, and checked page by page.
TEST(MapsGrowTest, AHundredThousandValuesReadBackEverywhere) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* name : {"jet4-nopassword-2003.mdb", "ace14-test-2010.accdb"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    std::string path = dir.copyFixture(name);
    std::vector<std::string> values;
    for (int i = 0; i < 100000; ++i) values.push_back("value " + std::to_string(i) + " of many");
    ASSERT_EQ(enginetest::ExportValues(path, "Results", values), 0);
    enginetest::ExpectSoundFile(path);
    auto s = enginetest::OpenRw(path);
    std::vector<std::string> read = enginetest::Column(*s, "Results");
    ASSERT_EQ(read.size(), values.size());
    EXPECT_EQ(read.front(), values.front());
    EXPECT_EQ(read.back(), values.back());
  }
}

}  // namespace
