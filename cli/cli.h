// rowsifter-cli as a function: the arguments after the program name in, the exit code out.
// Messages go to env.err as "rowsifter-cli: ..." lines.
#pragma once

#include <string>
#include <vector>

#include "cli/environment.h"

namespace cli {

int RunCli(const std::vector<std::string>& args, Environment& env);

}  // namespace cli
