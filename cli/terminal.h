// What the program learns from and asks of the terminal: whether a stream is one, and the
// password prompt that does not echo.
#pragma once

#include <optional>
#include <string>

namespace cli {

bool IsTerminal(int fd);

// Writes `prompt` to standard error and reads one line from standard input with echo switched
// off when standard input is a terminal (a plain read otherwise, for a password piped in). The
// terminal's settings come back even when the read is interrupted with Ctrl-C. Nothing at the
// end of the input. The line ends are not part of the answer.
std::optional<std::string> ReadPassword(const std::string& prompt);

}  // namespace cli
