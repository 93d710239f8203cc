// rowsifter-cli on a connection file: the same commands as on a database file, its password
// rules, and an unknown host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <map>
#include <sstream>

#include "cli/cli.h"
#include "cli/exit_codes.h"
#include "tests/cli/cli_support.h"
#include "tests/postgres/pg_test_support.h"

namespace {

using pgtest::PostgresTest;
using testsupport::PgServer;

class PostgresCliTest : public PostgresTest, public clitest::CliRunner {
 protected:
  clitest::Result cli(const std::vector<std::string>& args) { return run(args); }
};

TEST_F(PostgresCliTest, ListsExtractsAndExportsThroughAConnectionFile) {
  sql("CREATE TABLE \"Customers\" (id int, \"City Name\" text);"
      "INSERT INTO \"Customers\" VALUES (1, 'Oslo'), (2, 'New York'), (3, NULL), (4, 'Oslo'),"
      " (5, 'São Paulo '), (6, 'Bergen');");
  EXPECT_EQ(cli({"tables", path}).out, "Customers\n");
  EXPECT_EQ(cli({"fields", path, "customers"}).out, "id\nCity Name\n");
  EXPECT_EQ(cli({"preview", path, "Customers", "City Name", "--limit", "3"}).out,
            "Oslo\nNew York\n\n");

  clitest::Result spaced =
      cli({"extract", path, "Customers", "City Name", "-c", "Contains Space(s)"});
  EXPECT_EQ(spaced.code, cli::exitcode::kOk) << spaced.err;
  std::vector<std::string> lines;
  for (std::istringstream in(spaced.out); std::getline(in, lines.emplace_back());) {
  }
  lines.pop_back();
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"New York", "São Paulo "}));

  clitest::Result made = cli({"export", path, "Customers", "City Name", "Spaced", "-c", "3"});
  EXPECT_EQ(made.code, cli::exitcode::kOk) << made.err;
  EXPECT_EQ(rows("SELECT \"City Name\" FROM \"Spaced\" ORDER BY 1"),
            (std::vector<std::string>{"New York", "São Paulo "}));
  EXPECT_EQ(cli({"export", path, "Customers", "City Name", "Spaced", "-c", "3"}).code,
            cli::exitcode::kTableRefused);
  clitest::Result replaced =
      cli({"export", path, "Customers", "City Name", "Spaced", "-c", "4", "--replace"});
  EXPECT_EQ(replaced.code, cli::exitcode::kOk) << replaced.err;
  EXPECT_EQ(rows("SELECT \"City Name\" FROM \"Spaced\" ORDER BY 1"),
            (std::vector<std::string>{"Bergen", "Oslo"}));
  // A name the server would shorten is refused; the old table stays.
  clitest::Result refused =
      cli({"export", path, "Customers", "City Name", std::string(70, 'x'), "-c", "3"});
  EXPECT_EQ(refused.code, cli::exitcode::kWriteFailed);
  EXPECT_NE(refused.err.find("Nothing was changed"), std::string::npos) << refused.err;
  EXPECT_EQ(rows("SELECT count(*) FROM pg_tables WHERE tablename LIKE 'xxx%'"),
            std::vector<std::string>{"0"});
}

TEST_F(PostgresCliTest, ThePasswordComesFromTheCommandLineOrTheVariableAndIsNeverShown) {
  sql("CREATE TABLE t (v text)");
  const std::string file = server->connectionFile("alice-cli.pgconn", PgServer::kPasswordUser,
                                                  PgServer::kDatabase, "schema=" + schema + "\n");
  clitest::Result wrong = cli({"tables", file, "--password", "not it"});
  EXPECT_EQ(wrong.code, cli::exitcode::kCannotOpen);
  EXPECT_EQ(wrong.err.find("not it"), std::string::npos) << wrong.err;
  clitest::Result none = cli({"tables", file});
  EXPECT_EQ(none.code, cli::exitcode::kCannotOpen);
  EXPECT_NE(none.err.find("ROWSIFTER_PASSWORD"), std::string::npos) << none.err;
  EXPECT_EQ(cli({"tables", file, "--password", PgServer::kPassword}).out, "t\n");
  variables["ROWSIFTER_PASSWORD"] = PgServer::kPassword;
  clitest::Result fromVariable = cli({"tables", file});
  EXPECT_EQ(fromVariable.out, "t\n");
  EXPECT_EQ(fromVariable.err.find(PgServer::kPassword), std::string::npos);
}

// A host that cannot be found: the real program, in a network namespace of its own so that the
// name is looked up nowhere.
TEST_F(PostgresCliTest, AnUnknownHostIsOneClearError) {
  if (geteuid() != 0 || std::system("unshare -n true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "cannot make a network namespace here (needs root): test skipped";
  const std::string file = (server->scratch() / "unknown-host.pgconn").string();
  std::ofstream(file) << "postgresql://someone@db.example.invalid:5432/sales\n";
  const std::string command =
      "unshare -n '" ROWSIFTER_CLI_PATH "' tables '" + file + "' 2>&1; echo \"exit $?\"";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    std::array<char, 512> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe)) output += buffer.data();
    pclose(pipe);
  }
  EXPECT_NE(output.find("db.example.invalid"), std::string::npos) << output;
  EXPECT_NE(output.find("unknown-host.pgconn"), std::string::npos) << output;
  EXPECT_NE(output.find("exit " + std::to_string(cli::exitcode::kCannotOpen)), std::string::npos)
      << output;
  // One message line, then the exit status.
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 2) << output;
}

}  // namespace
