// The exit codes of rowsifter-cli. Scripts test them, so a number never changes its meaning.
#pragma once

#include <stdexcept>
#include <string>

namespace cli {

namespace exitcode {
constexpr int kOk = 0;
constexpr int kNothingMatched = 1;  // extract/export: no value met the criterion
constexpr int kBadArguments = 2;    // unknown command or option, missing or bad value
constexpr int kFileMissing = 3;     // the database file is missing or cannot be read
constexpr int kCannotOpen = 4;      // wrong or missing password, not a database, damaged file
constexpr int kNotFound = 5;        // the table or field does not exist
constexpr int kWriteFailed = 6;     // output not written, or the database refused the export
constexpr int kTableRefused = 7;    // export: the new table exists (no --replace) or is the source
constexpr int kDatabaseError = 8;   // the database failed while the values were read
}  // namespace exitcode

// A failure that ends the command with `code`; `what()` is the message for standard error.
class Failure : public std::runtime_error {
 public:
  Failure(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

}  // namespace cli
