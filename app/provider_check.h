// The check at start-up that databases can be opened at all. When no database engine can be
// found it explains why, offers to open the download pages of the Access database engine, and
// tells the start-up to end the program.
#pragma once

#include <functional>
#include <string>

#include "steps/prompts.h"

namespace app {

inline constexpr const char* kEngine2010Page =
    "https://www.microsoft.com/en-us/download/details.aspx?id=13255";
inline constexpr const char* kEngine2016Page =
    "https://www.microsoft.com/en-us/download/details.aspx?id=54920";

// The help message shown when the engine is missing, its paragraphs separated by an empty line
// (two CR LF pairs).
std::string ProviderHelpText();

// True when a failure means that no database engine is available: error number 3706, or a
// description that contains "provider cannot be found" in any letter case.
bool IsProviderMissing(long number, const std::string& description);

// Creates what a connection needs (`createConnection` throws when that fails; by default a
// connection of the database layer, whose engines are linked into the program). True when that
// worked. Otherwise, when the engine is missing, shows the help message (Yes / No) and on Yes opens
// the 2010 page, then the 2016 page; the answer is false in every such case. The check itself never
// throws: failures of the box or of the page opening are ignored.
bool CheckProvider(steps::Prompts& prompts, const std::function<void()>& createConnection = {});

}  // namespace app
