// rowsifter-cli: the command line program. See cli/help.cpp for what it does.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>

#include "cli/cli.h"
#include "cli/terminal.h"

int main(int argc, char** argv) {
  // Past a file-size limit a write fails (EFBIG), and the export reports and undoes it, instead
  // of the signal killing the program half-way through a commit.
  std::signal(SIGXFSZ, SIG_IGN);
  std::ios::sync_with_stdio(false);  // standard output buffered on its own: values stream fast
  cli::Environment env;
  env.out = &std::cout;
  env.err = &std::cerr;
  env.errIsTerminal = cli::IsTerminal(STDERR_FILENO);
  env.outIsTerminal = cli::IsTerminal(STDOUT_FILENO);
  env.inIsTerminal = cli::IsTerminal(STDIN_FILENO);
  env.variable = [](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
  };
  env.readPassword = cli::ReadPassword;
  const int code = cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), env);
  std::cout.flush();
  if (!std::cout && code == 0) {
    std::cerr << "rowsifter-cli: writing to standard output failed.\n";
    return 6;
  }
  return code;
}
