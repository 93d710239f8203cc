// Facts about the running program: its folder, its title and the files it looks for beside it.
#pragma once

#include <string>

namespace app {

// Folder of the program's executable, without a trailing separator.
std::string ProgramFolder();

// The product name: caption of both windows and source of the application title.
constexpr const char* kProductName = "Rowsifter";

// Files beside the program.
std::string HandPointerPath();     // <folder>/HAND-M.CUR
std::string SkinPath();            // <folder>/x/o.cjs
std::string SampleDatabasePath();  // <folder>/Samples/sample.mdb

// The application title: the product name cut before its last space while longer than 40
// characters ("Rowsifter").
std::string ApplicationTitle();
// Cuts a UTF-8 text before its last space while it is longer than 40 characters; a text that
// is still too long but has no space left is cut at 40 characters.
std::string ShortenTitle(std::string productName);
// Makes the application title the name under which Qt lists the running program
// (QCoreApplication::applicationName). Call once the application object exists.
void SetApplicationTitle();

}  // namespace app
