#include <gtest/gtest.h>

#include "db/connection_string.h"
#include "db/base/error.h"

using db::BuildConnectionString;
using db::ParseConnectionString;

namespace {

constexpr char kJet[] = "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=";
constexpr char kAce[] = "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=";
constexpr char kKey[] = ";JET OLEDB:Database Password=";

TEST(BuildConnectionString, GivesTheDocumentedTextsForOrdinaryValues) {
  EXPECT_EQ(BuildConnectionString("C:\\Data\\Orders.mdb", ""),
            "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Data\\Orders.mdb;"
            "JET OLEDB:Database Password=");
  EXPECT_EQ(BuildConnectionString("C:\\Data\\Stock.ACCDB", ""),
            "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=C:\\Data\\Stock.ACCDB;"
            "JET OLEDB:Database Password=");
  EXPECT_EQ(BuildConnectionString("/home/me/db.mdb", "s3cret pass"),
            std::string(kJet) + "/home/me/db.mdb" + kKey + "s3cret pass");
  // Blanks, apostrophes and '=' are ordinary: written as they stand.
  EXPECT_EQ(BuildConnectionString(" a b.mdb ", "x=y'z "),
            std::string(kJet) + " a b.mdb " + kKey + "x=y'z ");
}

TEST(BuildConnectionString, ChoosesTheProviderFromTheLastFiveCharactersOnly) {
  struct Case {
    const char* path;
    bool ace;
  } cases[] = {
      {"x.accdb", true},      {"x.ACCDB", true},  {"x.AccDb", true},   {"xaccdb", true},
      {"accdb", true},        {"ACCDB", true},    {"x.accdb ", false}, {"x.mdb", false},
      {"x.mde", false},       {"x.accde", false}, {"ccdb", false},     {"", false},
      {"x.accdb.bak", false},
  };
  for (const Case& c : cases) {
    std::string built = BuildConnectionString(c.path, "");
    EXPECT_EQ(built, std::string(c.ace ? kAce : kJet) + c.path + kKey)
        << "path: '" << c.path << "'";
  }
  EXPECT_EQ(BuildConnectionString("", ""), std::string(kJet) + kKey);
}

TEST(BuildConnectionString, QuotesOnlyValuesThatWouldNotReadBackIntact) {
  EXPECT_EQ(BuildConnectionString("C:\\a;b.accdb", "p;w"),
            std::string(kAce) + "\"C:\\a;b.accdb\"" + kKey + "\"p;w\"");
  EXPECT_EQ(BuildConnectionString("C:\\x.mdb", "say \"hi\""),
            std::string(kJet) + "C:\\x.mdb" + kKey + "\"say \"\"hi\"\"\"");
  // A leading apostrophe would be read as an opening quote.
  EXPECT_EQ(BuildConnectionString("C:\\x.mdb", "'pw'"),
            std::string(kJet) + "C:\\x.mdb" + kKey + "\"'pw'\"");
  // An apostrophe elsewhere needs nothing.
  EXPECT_EQ(BuildConnectionString("C:\\O'Hara.mdb", "it's"),
            std::string(kJet) + "C:\\O'Hara.mdb" + kKey + "it's");
}

TEST(ParseConnectionString, ReadsBackWhatWasBuilt) {
  const char* paths[] = {"C:\\Data\\Orders.mdb", "",        " lead and trail ", "a;b.accdb",
                         "q\"uote.mdb",          "'x'.mdb", "x=y.mdb",          "Ünïcødé.accdb"};
  const char* passwords[] = {"", "pw", ";", "\"", "\"\"", "'", "'quoted'", " a;\"b\" ", "=="};
  for (const char* path : paths) {
    for (const char* password : passwords) {
      std::string built = BuildConnectionString(path, password);
      db::ConnectionSettings parsed = ParseConnectionString(built);
      EXPECT_EQ(parsed.dataSource, path) << built;
      EXPECT_EQ(parsed.password, password) << built;
      EXPECT_EQ(parsed.provider, std::string(path).ends_with("accdb") ? "Microsoft.ACE.OLEDB.12.0"
                                                                      : "Microsoft.Jet.OLEDB.4.0")
          << built;
    }
  }
}

TEST(ParseConnectionString, AcceptsHandWrittenStrings) {
  db::ConnectionSettings s = ParseConnectionString(
      "  provider = Some.Provider ; Extended Properties=x;DATA SOURCE='C:\\it''s.mdb' ;"
      "jet oledb:database password=\"p;w\";");
  EXPECT_EQ(s.provider, " Some.Provider ");  // values keep their blanks
  EXPECT_EQ(s.dataSource, "C:\\it's.mdb");
  EXPECT_EQ(s.password, "p;w");

  s = ParseConnectionString(";;Data Source=a.db;;Data Source=b.db");
  EXPECT_EQ(s.dataSource, "b.db");  // the last one counts
  EXPECT_EQ(s.password, "");
  EXPECT_EQ(ParseConnectionString("").dataSource, "");
}

TEST(ParseConnectionString, RefusesMalformedStrings) {
  for (const char* text : {"Data Source=\"open.mdb", "Data Source='open.mdb;x=y",
                           "Data Source=\"a\"b;", "Provider=x;stray;Data Source=a", "=value"}) {
    try {
      ParseConnectionString(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const db::Error& e) {
      EXPECT_NE(e.description().find("malformed"), std::string::npos) << e.description();
    }
  }
}

}  // namespace
