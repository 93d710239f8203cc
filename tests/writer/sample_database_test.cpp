// The sample database built with the program: it reads alike in all three readers, passes our
// checker, has columns of every type the demo shows, and gives every extraction criterion
// something to find.
#include <gtest/gtest.h>

#include <set>

#include "db/access/check/checker.h"
#include "extract/criteria.h"
#include "tests/support/outside_readers.h"

namespace {

using testsupport::ReadDatabase;

TEST(SampleDatabase, ReadsAlikeEverywhereAndPassesTheChecker) {
  const std::string path = ROWSIFTER_SAMPLE_DATABASE;
  db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
  EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems.front());

  ReadDatabase libmdb = testsupport::ReadWithLibmdb(path);
  ReadDatabase ours = testsupport::ReadWithOurLayer(path);
  std::vector<std::string> names;
  for (const auto& t : ours.tables) names.push_back(t.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Customers", "Orders", "Products"}));
  EXPECT_EQ(testsupport::FirstDifference(testsupport::BlankAsNull(ours),
                                         testsupport::WithoutTypes(libmdb), "ours against libmdb"),
            std::nullopt);

  std::set<std::string> types;
  for (const auto& t : libmdb.tables)
    for (const auto& c : t.columns) types.insert(c.type);
  if (!testsupport::MdbReaderUnavailable()) {
    ReadDatabase outside = testsupport::ReadWithMdbReader(path);
    EXPECT_EQ(testsupport::FirstDifference(testsupport::WithoutTypes(outside), ours,
                                           "mdb-reader against ours"),
              std::nullopt);
    types.clear();
    for (const auto& t : outside.tables)
      for (const auto& c : t.columns) types.insert(c.type);
    EXPECT_EQ(types,
              (std::set<std::string>{"text", "memo", "long", "double", "datetime", "boolean"}));
  }
}

TEST(SampleDatabase, EveryCriterionFindsAValueInSomeTextField) {
  ReadDatabase ours = testsupport::ReadWithOurLayer(ROWSIFTER_SAMPLE_DATABASE);
  ReadDatabase libmdb = testsupport::ReadWithLibmdb(ROWSIFTER_SAMPLE_DATABASE);
  std::vector<std::string> texts;
  bool sawNull = false;
  for (const auto& lt : libmdb.tables) {
    const testsupport::ReadTable* t = ours.find(lt.name);
    ASSERT_TRUE(t);
    for (std::size_t c = 0; c < lt.columns.size(); ++c) {
      if (lt.columns[c].type != "text" && lt.columns[c].type != "memo") continue;
      for (const auto& row : t->rows) {
        if (row.at(c))
          texts.push_back(*row[c]);
        else
          sawNull = true;
      }
    }
  }
  EXPECT_TRUE(sawNull);
  for (std::string_view criterion : extract::kCriterionTexts) {
    SCOPED_TRACE(std::string(criterion));
    bool found = false;
    for (const std::string& text : texts)
      found = found || extract::CriterionMatches(text, criterion, "an");
    EXPECT_TRUE(found);
  }
  // The same word in other letter case, and accented letters.
  auto has = [&](const std::string& s) {
    return std::find(texts.begin(), texts.end(), s) != texts.end();
  };
  EXPECT_TRUE(has("Northwind") && has("northwind") && has("NORTHWIND"));
  EXPECT_TRUE(has("Zürich"));
}

}  // namespace
