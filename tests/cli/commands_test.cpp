// Each command in-process on SQLite files the tests make (and on the Access files made by
// Microsoft Access, for the password).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "cli/exit_codes.h"
#include "db/access/write/new_database.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/statements.h"
#include "tests/cli/cli_support.h"

namespace {

using namespace cli::exitcode;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> SortedLines(const std::string& text) {
  auto lines = Lines(text);
  std::sort(lines.begin(), lines.end());
  return lines;
}

class CommandsTest : public clitest::CliTest {
 protected:
  CommandsTest() {
    db = makeDatabase(
        "CREATE TABLE People (Id INTEGER, City TEXT, Note TEXT);"
        "CREATE TABLE \"Order's\" (\"Ship To\" TEXT);"
        "CREATE VIEW Towns AS SELECT City FROM People;"
        "INSERT INTO People VALUES (1, 'New York', 'a'), (2, 'Paris', NULL), (3, NULL, 'c'),"
        " (4, 'New York', 'd'), (5, 'O''Brien Town', 'e'), (6, 'Tab\tCity', 'f'),"
        " (7, 'Two' || char(10) || 'Lines', 'g'), (8, 'Oslo', 'h'), (9, '', 'i');"
        "INSERT INTO \"Order's\" VALUES ('Dock 7');");
  }

  std::string db;
};

TEST_F(CommandsTest, TablesAndFieldsListTheCatalogue) {
  auto r = run({"tables", db});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Order's", "People"})) << "no view";

  r = run({"fields", db, "people"});  // letter case of the name does not matter
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Id", "City", "Note"}));

  r = run({"fields", db, "Order's", "-f", "json"});
  EXPECT_EQ(r.out, "[\n  \"Ship To\"\n]\n");

  r = run({"fields", db, "Towns"});
  EXPECT_EQ(r.code, kNotFound) << "a view is no user table";
  EXPECT_NE(r.err.find("no table 'Towns'"), std::string::npos);
  EXPECT_NE(r.err.find("Order's, People"), std::string::npos) << "the tables are named";
}

TEST_F(CommandsTest, PreviewGivesTheFirstRowsWithNullsInPlace) {
  auto r = run({"preview", db, "People", "City", "-n", "3", "-f", "json"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(r.out, "[\n  \"New York\",\n  \"Paris\",\n  null\n]\n");

  r = run({"preview", db, "People", "Id"});
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9"}));

  dbtest::RunSql(db,
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 250)"
                 " INSERT INTO People (Id) SELECT i FROM n;");
  EXPECT_EQ(Lines(run({"preview", db, "People", "Id"}).out).size(), 100u) << "the default";
  EXPECT_EQ(Lines(run({"preview", db, "People", "Id", "-n0"}).out).size(), 259u) << "all";

  r = run({"preview", db, "People", "Town"});
  EXPECT_EQ(r.code, kNotFound);
  EXPECT_NE(r.err.find("no field 'Town' in table 'People'. Its fields: Id, City, Note"),
            std::string::npos);
}

TEST_F(CommandsTest, ExtractListsDistinctMatchesAsStoredAndSkipsNull) {
  auto r = run({"extract", db, "People", "City", "-c", "Contains Space(s)"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(SortedLines(r.out), (std::vector<std::string>{"New York", "O'Brien Town"}))
      << "once each, apostrophe not doubled";

  // Entry 4 meets the empty text too; Null is never listed.
  r = run({"extract", db, "People", "City", "-c", "4", "--escape"});
  EXPECT_EQ(SortedLines(r.out),
            (std::vector<std::string>{"", "Oslo", "Paris", "Tab\\tCity", "Two\\nLines"}));

  r = run({"extract", db, "People", "City", "-c", "1", "--chars", "o", "-f", "csv", "--header"});
  const auto csv = r.out;
  EXPECT_NE(csv.find("City\r\n"), std::string::npos);
  EXPECT_NE(csv.find("\"Two\nLines\"\r\n"), std::string::npos);
  EXPECT_NE(csv.find("O'Brien Town\r\n"), std::string::npos);
  EXPECT_EQ(csv.find("Paris"), std::string::npos);

  // A number field is tested on its text.
  r = run({"extract", db, "People", "Id", "-c", "11"});
  EXPECT_EQ(SortedLines(r.out).size(), 9u);

  r = run({"extract", db, "People", "City", "-c", "19", "--chars", "York", "-f", "json"});
  EXPECT_EQ(r.code, kOk);
  EXPECT_EQ(r.out, "[\n  \"New York\"\n]\n") << "text before the characters";
}

// The engine of an Access file passes over the values that fail the criterion before DISTINCT
// holds them; the value DISTINCT keeps of each group is still the first one met, so a group
// whose first value fails gives nothing, though a later value of it (which differs only in
// letter case) would pass. "\u212Ax" begins with the Kelvin sign, which folds to "k" but is no
// ASCII letter.
TEST_F(CommandsTest, ExtractFromAccessListsTheValueDistinctKeeps) {
  const std::string path = dir.file("cities.mdb");
  db::access::write::CreateEmptyDatabase(path, db::access::write::NewDatabaseFormat::kJet4);
  {
    db::Connection c;
    c.open(db::BuildConnectionString(path, ""));
    c.execute(db::CreateTableStatement("Cities", "City"));
    for (const char* city : {"\u212Ax", "kx", "a b", "A B", "Ab", "a\tb", "A\tB"})
      c.execute(db::InsertStatement("Cities", city));
  }
  auto r = run({"extract", path, "Cities", "City", "-c", "Contains Alphabet Character(s)"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Ab"})) << "not kx";
  r = run({"extract", path, "Cities", "City", "-c", "Contains Space(s)"});
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"a b"}));
  r = run({"extract", path, "Cities", "City", "-c", "8"});
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"a b", "Ab", "\u212Ax"}));
  r = run({"extract", path, "Cities", "City", "-c", "1", "--chars", "K"});
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"\u212Ax"}));
}

TEST_F(CommandsTest, ExtractSaysWhenNothingMatched) {
  auto r = run({"extract", db, "People", "City", "-c", "1", "--chars", "zz", "-f", "json"});
  EXPECT_EQ(r.code, kNothingMatched);
  EXPECT_EQ(r.out, "[]\n") << "still a valid document";
  EXPECT_EQ(r.err, "");
}

TEST_F(CommandsTest, OutputFileAndItsFailure) {
  const std::string file = dir.file("out.json");
  auto r = run({"extract", db, "People", "City", "-c", "3", "-o", file, "-f", "json"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(r.out, "");
  std::ifstream in(file);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_NE(content.str().find("\"O'Brien Town\""), std::string::npos);

  // The refusal says why, in the system's words.
  r = run({"extract", db, "People", "City", "-c", "3", "-o", dir.file("no/such/folder/x")});
  EXPECT_EQ(r.code, kWriteFailed);
  EXPECT_NE(r.err.find("cannot write to '" + dir.file("no/such/folder/x") +
                       "': No such file or directory"),
            std::string::npos)
      << r.err;
  r = run({"extract", db, "People", "City", "-c", "3", "-o", dir.path().string()});
  EXPECT_EQ(r.code, kWriteFailed);
  EXPECT_NE(r.err.find("Is a directory"), std::string::npos) << r.err;

  // The database itself, by its name or through a link, is never emptied for the output.
  const std::string link = dir.file("link.db");
  std::filesystem::create_symlink(db, link);
  const std::string before = testsupport::FileBytes(db);
  for (const std::string& out : {db, link}) {
    r = run({"extract", db, "People", "City", "-c", "3", "-o", out});
    EXPECT_EQ(r.code, kWriteFailed);
    EXPECT_NE(r.err.find("it is the database itself"), std::string::npos) << r.err;
    EXPECT_EQ(testsupport::FileBytes(db), before);
  }

  // A stream that stops taking bytes is a failed write, not a success.
  std::ostringstream broken;
  broken.setstate(std::ios::badbit);
  cli::Environment env;
  env.out = &broken;
  std::ostringstream err;
  env.err = &err;
  EXPECT_EQ(cli::RunCli({"tables", db}, env), kWriteFailed);
}

TEST_F(CommandsTest, FilesThatCannotBeOpened) {
  auto r = run({"tables", dir.file("missing.sqlite")});
  EXPECT_EQ(r.code, kFileMissing);
  EXPECT_NE(r.err.find("no such database file"), std::string::npos);

  EXPECT_EQ(run({"tables", dir.path().string()}).code, kFileMissing) << "a folder";

  // The database layer's own message names the file: it is said once, not wrapped in another.
  const std::string text = dir.file("notes.txt");
  std::ofstream(text) << "not a database at all, but long enough to be read as one";
  r = run({"tables", text});
  EXPECT_EQ(r.code, kCannotOpen);
  EXPECT_NE(r.err.find("Unrecognized database format"), std::string::npos);
  EXPECT_EQ(r.err.find(text), r.err.rfind(text)) << r.err;
  EXPECT_EQ(r.err.find("annot open"), std::string::npos) << r.err;
}

TEST_F(CommandsTest, ProgressBarOnlyOnATerminalThatHoldsNoValues) {
  errIsTerminal = true;
  outIsTerminal = true;
  auto r = run({"extract", db, "People", "City", "-c", "3"});
  EXPECT_EQ(r.err.find('%'), std::string::npos) << "values and bar would share the terminal";

  outIsTerminal = false;
  r = run({"extract", db, "People", "City", "-c", "3"});
  EXPECT_NE(r.err.find("100%  8/8"), std::string::npos) << "eight distinct values, Null included";
  EXPECT_TRUE(r.err.ends_with("\r\x1b[K2 values written to standard output.\n"))
      << "the bar wiped before the count";
  EXPECT_EQ(SortedLines(r.out), (std::vector<std::string>{"New York", "O'Brien Town"}));

  r = run({"extract", db, "People", "City", "-c", "3", "--no-progress"});
  EXPECT_EQ(r.err, "2 values written to standard output.\n") << "the count, without the bar";
}

// On a terminal, extract ends with the number of values it wrote, on standard error: standard
// output holds the values alone. Off a terminal (a script reads the output) it says nothing.
TEST_F(CommandsTest, ExtractCountsTheValuesWrittenOnATerminal) {
  errIsTerminal = true;
  outIsTerminal = true;
  auto r = run({"extract", db, "People", "City", "-c", "3"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(SortedLines(r.out), (std::vector<std::string>{"New York", "O'Brien Town"}));
  EXPECT_EQ(r.err, "2 values written to standard output.\n");

  const std::string file = dir.file("one.csv");
  r = run(
      {"extract", db, "People", "City", "-c", "1", "--chars", "paris", "-o", file, "-f", "csv"});
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("1 value written to '" + file + "'.\n"), std::string::npos) << r.err;

  r = run({"extract", db, "People", "City", "-c", "1", "--chars", "zz"});
  EXPECT_EQ(r.code, kNothingMatched);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "0 values written to standard output.\n");

  errIsTerminal = false;
  r = run({"extract", db, "People", "City", "-c", "3"});
  EXPECT_EQ(r.err, "");
}

TEST_F(CommandsTest, HelpListsEveryOption) {
  const auto r = run({"--help"});
  EXPECT_EQ(r.code, kOk);
  for (const char* option :
       {"--criterion", "--chars", "--password", "--ask-password", "--format", "--escape",
        "--header", "--output", "--limit", "--replace", "--no-progress", "--help", "--version"})
    EXPECT_NE(r.out.find(std::string(option) + " "), std::string::npos) << option;
}

// ---- password ---------------------------------------------------------------------------------

class PasswordTest : public clitest::CliTest {
 protected:
  void SetUp() override {
    ROWSIFTER_REQUIRE_FIXTURES();
    file = testsupport::Fixture("jet4-password-2003.mdb");
  }
  std::string file;
};

TEST_F(PasswordTest, FromOptionOrEnvironmentOptionFirst) {
  variables["ROWSIFTER_PASSWORD"] = "password";
  auto r = run({"extract", file, "Table1", "Data", "-c", "9"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(SortedLines(r.out), (std::vector<std::string>{"One", "Three", "Two"}));

  variables["ROWSIFTER_PASSWORD"] = "wrong";
  EXPECT_EQ(run({"tables", file, "-p", "password"}).code, kOk);
  r = run({"tables", file});
  EXPECT_EQ(r.code, kCannotOpen);
  EXPECT_NE(r.err.find("Not a valid password"), std::string::npos);
  EXPECT_TRUE(prompts.empty()) << "a password was given: no prompt";
}

TEST_F(PasswordTest, PromptOnlyWhenNeededAndOnATerminal) {
  // Not a terminal: no prompt, and the message says how to give the password.
  auto r = run({"tables", file});
  EXPECT_EQ(r.code, kCannotOpen);
  EXPECT_NE(r.err.find("ROWSIFTER_PASSWORD"), std::string::npos);
  EXPECT_TRUE(prompts.empty());

  inIsTerminal = true;
  answers = {"password"};
  r = run({"tables", file});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(r.out, "Table1\n");
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_NE(prompts[0].find("jet4-password-2003.mdb"), std::string::npos);

  answers = {"nope", "password"};
  EXPECT_EQ(run({"tables", file}).code, kCannotOpen) << "asked once, not in a loop";
  EXPECT_EQ(prompts.size(), 2u);

  // A file without a password is opened without asking.
  EXPECT_EQ(run({"tables", testsupport::Fixture("jet4-nopassword-2003.mdb")}).code, kOk);
  EXPECT_EQ(prompts.size(), 2u);
}

TEST_F(PasswordTest, AskPasswordAsksFirstEvenOffATerminal) {
  answers = {"password"};
  auto r = run({"fields", file, "Table1", "--ask-password"});
  EXPECT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(r.out, "ID\nData\n");
  EXPECT_EQ(prompts.size(), 1u);

  r = run({"fields", file, "Table1", "--ask-password"});  // the input has ended
  EXPECT_EQ(r.code, kCannotOpen);
  EXPECT_NE(r.err.find("no password was read"), std::string::npos);
}

}  // namespace
