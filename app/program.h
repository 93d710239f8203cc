// Facts about the running program: its folder and the files it looks for beside itself.
#pragma once

#include <string>

namespace app {

// Folder of the program's executable, without a trailing separator.
std::string ProgramFolder();

// The product name: caption of both windows and source of the application title.
constexpr const char* kProductName = "Rowsifter";

// Files beside the program.
std::string HandPointerPath();    // <folder>/HAND-M.CUR
std::string SkinPath();           // <folder>/x/o.cjs
std::string SampleDatabasePath(); // <folder>/Samples/sample.mdb

}  // namespace app
