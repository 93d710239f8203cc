// The text of rowsifter-cli --help.
#pragma once

#include <string>

namespace cli {

inline constexpr const char* kVersion = "0.1";

std::string HelpText();

}  // namespace cli
