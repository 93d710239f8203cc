// The command line of rowsifter-cli, parsed into one Request. Options may stand before or after
// the command and its operands, as "--name value", "--name=value" or "-x value"; "--" ends the
// options. Every mistake is a Failure with exitcode::kBadArguments and a message that says what
// was wrong and, where there is a choice, what is valid.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extract/criteria.h"

namespace cli {

enum class Command { kHelp, kVersion, kCriteria, kTables, kFields, kPreview, kExtract, kExport };

enum class Format { kLines, kCsv, kJson };

inline constexpr long long kDefaultPreviewLimit = 100;
inline constexpr const char* kPasswordVariable = "ROWSIFTER_PASSWORD";

struct Request {
  Command command = Command::kHelp;
  std::string database;
  std::string table;
  std::string field;
  std::string newTable;  // export only

  std::optional<std::string> password;  // --password
  bool askPassword = false;             // --ask-password

  std::optional<extract::Criterion> criterion;
  std::optional<std::string> chars;  // the user characters, as given

  Format format = Format::kLines;
  bool escape = false;                     // lines: write \n, \r, \t and \\ as escapes
  bool header = false;                     // csv: a first line with the field name
  long long limit = kDefaultPreviewLimit;  // preview: 0 means every row
  std::optional<std::string> output;       // a file instead of standard output
  bool replace = false;                    // export: drop an existing table of the new name
  bool longText = false;                   // export: the new column holds long text (Memo)
  bool progress = true;                    // false with --no-progress
};

// Parses the arguments after the program name. Throws Failure (kBadArguments).
Request ParseArguments(const std::vector<std::string>& args);

// The criterion named by its entry text, in any letter case ("contains space(s)"), or by its
// number, 1 to 20 ("3" or "03").
std::optional<extract::Criterion> ParseCriterion(std::string_view text);

// The text that lists every criterion with its number, one a line, for --help and for errors.
std::string CriterionList();

}  // namespace cli
