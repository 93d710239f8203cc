// A failure of the database layer. It carries an error number, in the style of the numbers the
// original data-access layer gave, and a description that the error report shows unchanged.
#pragma once

#include <stdexcept>
#include <string>

namespace db {

// Error numbers the layer uses. Negative values are HRESULTs as 32-bit signed numbers.
namespace errc {
constexpr long kFailed = -2147467259;            // 0x80004005: general failure
constexpr long kSyntax = -2147217900;            // 0x80040E14: statement cannot be parsed
constexpr long kNoSuchObject = -2147217865;      // 0x80040E37: table or field not found
constexpr long kNotSupported = -2147217842;      // 0x80040E4E: not supported (yet)
constexpr long kWrongPassword = -2147217843;     // 0x80040E4D: not a valid password
constexpr long kBadFormat = -2147467259;         // unrecognized or damaged database file
constexpr long kNoProvider = 3706;               // no engine available for the connection
constexpr long kClosed = 3704;                   // operation not allowed when the object is closed
constexpr long kNoCurrentRecord = 3021;          // EOF or BOF is true
constexpr long kItemNotFound = 3265;             // no field of that name or position
constexpr long kAlreadyOpen = 3705;              // operation not allowed when the object is open
constexpr long kTransactionEnded = -2147168231;  // 0x8004D019: an earlier failure rolled the
                                                 // transaction back; nothing of it was kept
}  // namespace errc

// What the number cannot tell: errc::kBadFormat has the number of errc::kFailed (the error
// texts need it), so an error says by its kind whether the file itself is damaged or foreign.
// Code that must tell the two apart asks kind(), never compares the numbers. kHalfWritten: a
// commit failed after writing part of its change and could not undo it at once; the file holds
// that part until its journal is played back (the description says so), so whoever reports the
// failure must not say that nothing was changed.
enum class ErrorKind { kOther, kBadFormat, kHalfWritten };

class Error : public std::runtime_error {
 public:
  Error(long number, const std::string& description, ErrorKind kind = ErrorKind::kOther)
      : std::runtime_error(description), number_(number), kind_(kind) {}

  long number() const { return number_; }
  ErrorKind kind() const { return kind_; }
  std::string description() const { return what(); }

 private:
  long number_;
  ErrorKind kind_;
};

// The error for an unrecognized or damaged database file (errc::kBadFormat).
inline Error BadFormatError(const std::string& description) {
  return Error(errc::kBadFormat, description, ErrorKind::kBadFormat);
}

}  // namespace db
