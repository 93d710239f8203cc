// What the program learns from and asks of the terminal: whether a stream is one, and the
// password prompt that does not echo.
#pragma once

#include <optional>
#include <string>

namespace cli {

bool IsTerminal(int fd);

// Reads one line from standard input. When standard input is a terminal, `prompt` is written to
// standard error first and the echo is switched off for the answer; otherwise (a password piped
// in) the line is read plainly and no prompt is written. The terminal's settings come back even
// when the read is interrupted with Ctrl-C. Nothing at the end of the input. The line ends are
// not part of the answer.
std::optional<std::string> ReadPassword(const std::string& prompt);

}  // namespace cli
