// The command line: what is accepted, and that every mistake is refused with a message that
// names it.
#include "cli/args.h"

#include <gtest/gtest.h>

#include <cctype>

#include "cli/exit_codes.h"

namespace {

using cli::Command;
using cli::ParseArguments;
using extract::Criterion;

// The message of the refusal of `args`, or a failure when they are accepted.
std::string Refusal(const std::vector<std::string>& args) {
  try {
    ParseArguments(args);
  } catch (const cli::Failure& f) {
    EXPECT_EQ(f.code(), cli::exitcode::kBadArguments);
    return f.what();
  }
  ADD_FAILURE() << "accepted";
  return {};
}

TEST(ArgsTest, OptionsStandAnywhereInEverySpelling) {
  const cli::Request r = ParseArguments({"-p", "pw", "extract", "db.mdb", "--criterion=3", "T",
                                         "-fcsv", "F", "--header", "-o", "out.csv"});
  EXPECT_EQ(r.command, Command::kExtract);
  EXPECT_EQ(r.database, "db.mdb");
  EXPECT_EQ(r.table, "T");
  EXPECT_EQ(r.field, "F");
  EXPECT_EQ(r.password, "pw");
  EXPECT_EQ(r.criterion, Criterion::kContainsSpace);
  EXPECT_EQ(r.format, cli::Format::kCsv);
  EXPECT_TRUE(r.header);
  EXPECT_EQ(r.output, "out.csv");

  // After "--" a leading dash is part of a name; an empty password is a password.
  const cli::Request dashed = ParseArguments({"fields", "-p", "", "--", "db", "-odd-"});
  EXPECT_EQ(dashed.table, "-odd-");
  EXPECT_EQ(dashed.password, "");

  EXPECT_EQ(ParseArguments({"preview", "d", "t", "f"}).limit, 100);
  EXPECT_EQ(ParseArguments({"preview", "d", "t", "f", "-n0"}).limit, 0);
  EXPECT_EQ(ParseArguments({"export", "d", "t", "f", " New ", "-c", "4"}).newTable, " New ");
}

TEST(ArgsTest, HelpAndVersionNeedNothingElse) {
  EXPECT_EQ(ParseArguments({"extract", "-c", "99", "-h"}).command, Command::kHelp);
  EXPECT_EQ(ParseArguments({"--version"}).command, Command::kVersion);
  EXPECT_EQ(ParseArguments({"criteria"}).command, Command::kCriteria);
}

TEST(ArgsTest, CriteriaByTextInAnyLetterCaseOrByNumber) {
  for (std::size_t i = 0; i < extract::kCriterionCount; ++i) {
    const std::string text(extract::kCriterionTexts[i]);
    std::string lower = text, upper = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& spelling : {text, lower, upper})
      EXPECT_EQ(cli::ParseCriterion(spelling), static_cast<Criterion>(i)) << spelling;
    EXPECT_EQ(cli::ParseCriterion(std::to_string(i + 1)), static_cast<Criterion>(i));
  }
  EXPECT_EQ(cli::ParseCriterion("cOnTaInS sPaCe(S)"), Criterion::kContainsSpace);
  EXPECT_EQ(cli::ParseCriterion("07"), Criterion::kContainsTab);
  for (const char* bad : {"0", "21", "-1", "+3", " 3", "3 ", "", "contains spaces",
                          "Contains Space(s) ", " contains space(s)", "1000000000000000000000"})
    EXPECT_FALSE(cli::ParseCriterion(bad)) << bad;
}

TEST(ArgsTest, MistakesAreNamed) {
  EXPECT_NE(Refusal({}).find("no command"), std::string::npos);
  EXPECT_NE(Refusal({"extrat", "d"}).find("unknown command 'extrat'"), std::string::npos);
  EXPECT_NE(Refusal({"tables", "d", "--bogus"}).find("unknown option '--bogus'"),
            std::string::npos);
  EXPECT_NE(Refusal({"tables", "d", "-x"}).find("unknown option '-x'"), std::string::npos);
  EXPECT_NE(Refusal({"tables", "d", "-p"}).find("'-p' needs a value"), std::string::npos);
  EXPECT_NE(Refusal({"tables", "d", "--replace=yes"}).find("takes no value"), std::string::npos);
  EXPECT_NE(Refusal({"fields", "d"}).find("needs TABLE"), std::string::npos);
  EXPECT_NE(Refusal({"tables", "d", "extra"}).find("'extra' is not expected"), std::string::npos);
  EXPECT_NE(Refusal({"tables", "d", "--replace"}).find("does not apply to tables"),
            std::string::npos);
  EXPECT_NE(Refusal({"tables", ""}).find("file name is empty"), std::string::npos);
  EXPECT_NE(Refusal({"tables", "d", "-f", "xml"}).find("lines, csv or json"), std::string::npos);
  EXPECT_NE(Refusal({"preview", "d", "t", "f", "-n", "-1"}).find("--limit"), std::string::npos);
  EXPECT_NE(Refusal({"preview", "d", "t", "f", "-n", "5x"}).find("--limit"), std::string::npos);
  EXPECT_NE(Refusal({"tables", "d", "-p", "x", "--ask-password"}).find("not both"),
            std::string::npos);
  EXPECT_NE(Refusal({"tables", "d", "-f", "json", "--escape"}).find("--escape"), std::string::npos);
  EXPECT_NE(Refusal({"tables", "d", "--header"}).find("--header"), std::string::npos);
  EXPECT_NE(Refusal({"extract", "d", "t", "f"}).find("needs --criterion"), std::string::npos);
  EXPECT_NE(Refusal({"export", "d", "t", "f", "   ", "-c", "3"}).find("blank"), std::string::npos);
  EXPECT_NE(Refusal({"extract"}).find("Try 'rowsifter-cli --help'"), std::string::npos);
}

TEST(ArgsTest, UnknownCriterionListsTheValidOnes) {
  const std::string message = Refusal({"extract", "d", "t", "f", "-c", "Contains Spaces"});
  EXPECT_NE(message.find("unknown criterion 'Contains Spaces'"), std::string::npos);
  for (std::string_view text : extract::kCriterionTexts)
    EXPECT_NE(message.find(text), std::string::npos) << text;
  EXPECT_NE(message.find("20  Does not contain Text Before"), std::string::npos);
}

TEST(ArgsTest, UserCharactersExactlyForTheCriteriaThatUseThem) {
  for (const char* number : {"1", "2", "17", "18", "19", "20"}) {
    EXPECT_NE(Refusal({"extract", "d", "t", "f", "-c", number}).find("--chars"), std::string::npos);
    EXPECT_NE(Refusal({"extract", "d", "t", "f", "-c", number, "--chars", "  "}).find("blank"),
              std::string::npos);
    EXPECT_EQ(ParseArguments({"extract", "d", "t", "f", "-c", number, "--chars", " a "}).chars,
              " a ")
        << "used as given, spaces included";
  }
  EXPECT_NE(Refusal({"export", "d", "t", "f", "N", "-c", "3", "--chars", "x"}).find("takes none"),
            std::string::npos);
}

}  // namespace
