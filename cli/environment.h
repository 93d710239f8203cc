// What a command reads from and writes to the world outside the database. main() fills it from
// the process (standard streams, the environment, the terminal); tests fill it in memory.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace cli {

struct Environment {
  std::ostream* out = nullptr;  // the values
  std::ostream* err = nullptr;  // messages and the progress bar
  bool errIsTerminal = false;   // the progress bar is drawn only then
  bool outIsTerminal = false;   // ... and not over values written to the same terminal
  bool inIsTerminal = false;    // a password is asked for unprompted only then
  // The value of an environment variable, or nothing when it is not set.
  std::function<std::optional<std::string>(const std::string& name)> variable;
  // Asks for a password without echoing it; nothing when the input has ended.
  std::function<std::optional<std::string>(const std::string& prompt)> readPassword;
};

}  // namespace cli
