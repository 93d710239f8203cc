// Drives rowsifter-cli in-process: arguments in, exit code and both streams out, with the
// environment variables, the terminals and the password answers under the test's control.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "tests/db/sqlite_file.h"
#include "tests/support/fixtures.h"

namespace clitest {

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs the command line in-process with the variables, terminals and password answers held here.
class CliRunner {
 public:
  Result run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    cli::Environment env;
    env.out = &out;
    env.err = &err;
    env.inIsTerminal = inIsTerminal;
    env.errIsTerminal = errIsTerminal;
    env.outIsTerminal = outIsTerminal;
    env.variable = [this](const std::string& name) -> std::optional<std::string> {
      auto it = variables.find(name);
      if (it == variables.end()) return std::nullopt;
      return it->second;
    };
    env.readPassword = [this](const std::string& prompt) -> std::optional<std::string> {
      prompts.push_back(prompt);
      if (answers.empty()) return std::nullopt;
      std::string answer = answers.front();
      answers.pop_front();
      return answer;
    };
    Result r;
    r.code = cli::RunCli(args, env);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  std::map<std::string, std::string> variables;
  std::deque<std::string> answers;
  std::vector<std::string> prompts;
  bool inIsTerminal = false;
  bool errIsTerminal = false;
  bool outIsTerminal = false;
};

class CliTest : public ::testing::Test, public CliRunner {
 protected:
  // A SQLite file in the test's folder, made with `sql`.
  std::string makeDatabase(const std::string& sql, const std::string& name = "data.sqlite") {
    const std::string path = dir.file(name);
    dbtest::RunSql(path, sql);
    return path;
  }

  testsupport::TempDir dir;
};

}  // namespace clitest
