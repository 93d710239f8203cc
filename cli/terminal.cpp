#include "cli/terminal.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

namespace cli {
namespace {

termios gSaved;
volatile std::sig_atomic_t gEchoOff = 0;

// Ctrl-C during the prompt: the echo comes back before the program ends as it would have.
extern "C" void RestoreAndReraise(int signal) {
  if (gEchoOff) tcsetattr(STDIN_FILENO, TCSANOW, &gSaved);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

bool IsTerminal(int fd) { return isatty(fd) == 1; }

std::optional<std::string> ReadPassword(const std::string& prompt) {
  const bool terminal = IsTerminal(STDIN_FILENO);
  using Handler = void (*)(int);
  Handler oldInt = SIG_DFL, oldTerm = SIG_DFL;
  bool handlersSet = false;
  if (terminal && tcgetattr(STDIN_FILENO, &gSaved) == 0) {
    termios quiet = gSaved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    oldInt = std::signal(SIGINT, RestoreAndReraise);
    oldTerm = std::signal(SIGTERM, RestoreAndReraise);
    handlersSet = true;
    // TCSANOW: what was typed ahead is kept, and an answer that comes right after the prompt
    // cannot be thrown away by a flush.
    if (tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0) gEchoOff = 1;
  }
  // Only someone at a terminal reads the prompt; a password piped in needs none. Written once
  // the echo is off.
  if (terminal) std::cerr << prompt << std::flush;
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (gEchoOff) {
    tcsetattr(STDIN_FILENO, TCSANOW, &gSaved);
    gEchoOff = 0;
  }
  if (handlersSet) {
    std::signal(SIGINT, oldInt);
    std::signal(SIGTERM, oldTerm);
  }
  if (!read) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace cli
