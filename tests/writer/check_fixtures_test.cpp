// Our consistency checker on the files Access made: whatever it flags there is a fact of the
// format the checker has wrong.
#include <gtest/gtest.h>

#include "db/access/check/checker.h"
#include "tests/support/fixtures.h"

namespace {

using testsupport::Fixture;

const char* const kUnencryptedJet4AndAce[] = {
    "jet4-empty-2000.mdb",    "jet4-empty-2003.mdb",    "jet4-nopassword-2003.mdb",
    "jet4-numeric-2003.mdb",  "jet4-password-2000.mdb", "jet4-password-2003.mdb",
    "ace12-empty-2007.accdb", "ace14-empty-2010.accdb", "ace16-empty-2016.accdb",
    "ace14-test-2010.accdb",  "ace16-longtext.accdb",   "ace16-deleted-column.accdb",
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += "\n  " + l;
  return out;
}

TEST(JetCheck, EveryFixtureMadeByAccessIsConsistent) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* name : kUnencryptedJet4AndAce) {
    db::access::check::JetCheckReport report = db::access::check::CheckJetFile(Fixture(name));
    EXPECT_TRUE(report.ok()) << name << ":" << Joined(report.problems);
  }
}

}  // namespace
