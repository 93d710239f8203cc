#include "cli/args.h"

#include <algorithm>
#include <charconv>

#include "cli/exit_codes.h"
#include "extract/utf8_fold.h"

namespace cli {
namespace {

constexpr const char* kHelpHint = "\nTry 'rowsifter-cli --help'.";

[[noreturn]] void Refuse(const std::string& message) {
  const bool endsLine = !message.empty() && message.back() == '\n';
  throw Failure(exitcode::kBadArguments, message + (endsLine ? kHelpHint + 1 : kHelpHint));
}

struct CommandInfo {
  std::string_view name;
  Command command;
  std::vector<std::string_view> operands;  // their names, in order, for messages
};

const std::vector<CommandInfo>& Commands() {
  static const std::vector<CommandInfo> commands = {
      {"help", Command::kHelp, {}},
      {"version", Command::kVersion, {}},
      {"criteria", Command::kCriteria, {}},
      {"tables", Command::kTables, {"DATABASE"}},
      {"fields", Command::kFields, {"DATABASE", "TABLE"}},
      {"preview", Command::kPreview, {"DATABASE", "TABLE", "FIELD"}},
      {"extract", Command::kExtract, {"DATABASE", "TABLE", "FIELD"}},
      {"export", Command::kExport, {"DATABASE", "TABLE", "FIELD", "NEW_TABLE"}},
  };
  return commands;
}

// Which commands an option applies to.
enum Uses : unsigned {
  kOpens = 1u << 0,  // every command that opens a database
  kLists = 1u << 1,  // commands that write a list of values
  kPreview = 1u << 2,
  kExtracts = 1u << 3,  // extract and export
  kExport = 1u << 4,
};

unsigned UsesOf(Command c) {
  switch (c) {
    case Command::kTables:
    case Command::kFields:
      return kOpens | kLists;
    case Command::kPreview:
      return kOpens | kLists | kPreview;
    case Command::kExtract:
      return kOpens | kLists | kExtracts;
    case Command::kExport:
      return kOpens | kExtracts | kExport;
    default:
      return 0;
  }
}

struct OptionInfo {
  std::string_view longName;
  char shortName;  // 0 for none
  bool takesValue;
  unsigned uses;  // 0: any command
};

const std::vector<OptionInfo>& Options() {
  static const std::vector<OptionInfo> options = {
      {"help", 'h', false, 0},
      {"version", 0, false, 0},
      {"password", 'p', true, kOpens},
      {"ask-password", 0, false, kOpens},
      {"criterion", 'c', true, kExtracts},
      {"chars", 0, true, kExtracts},
      {"format", 'f', true, kLists},
      {"escape", 0, false, kLists},
      {"header", 0, false, kLists},
      {"output", 'o', true, kLists},
      {"limit", 'n', true, kPreview},
      {"replace", 0, false, kExport},
      {"long-text", 0, false, kExport},
      {"no-progress", 0, false, kExtracts},
  };
  return options;
}

const OptionInfo* FindLong(std::string_view name) {
  for (const OptionInfo& o : Options())
    if (o.longName == name) return &o;
  return nullptr;
}

const OptionInfo* FindShort(char name) {
  for (const OptionInfo& o : Options())
    if (o.shortName != 0 && o.shortName == name) return &o;
  return nullptr;
}

std::string CommandName(Command c) {
  for (const CommandInfo& info : Commands())
    if (info.command == c) return std::string(info.name);
  return {};
}

struct GivenOption {
  const OptionInfo* info;
  std::string spelling;  // as typed, for messages
  std::string value;
};

Format ParseFormat(const std::string& text) {
  if (text == "lines") return Format::kLines;
  if (text == "csv") return Format::kCsv;
  if (text == "json") return Format::kJson;
  Refuse("unknown format '" + text + "': use lines, csv or json.");
}

long long ParseLimit(const std::string& text) {
  long long value = -1;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < 0)
    Refuse("--limit needs a whole number of rows, 0 or more (0 for every row), not '" + text +
           "'.");
  return value;
}

void Apply(Request& r, const GivenOption& o) {
  const std::string_view name = o.info->longName;
  if (name == "password") {
    r.password = o.value;
  } else if (name == "ask-password") {
    r.askPassword = true;
  } else if (name == "criterion") {
    r.criterion = ParseCriterion(o.value);
    if (!r.criterion)
      Refuse("unknown criterion '" + o.value + "'. Give its exact text or its number:\n" +
             CriterionList());
  } else if (name == "chars") {
    r.chars = o.value;
  } else if (name == "format") {
    r.format = ParseFormat(o.value);
  } else if (name == "escape") {
    r.escape = true;
  } else if (name == "header") {
    r.header = true;
  } else if (name == "output") {
    if (o.value.empty()) Refuse("--output needs a file name.");
    r.output = o.value;
  } else if (name == "limit") {
    r.limit = ParseLimit(o.value);
  } else if (name == "replace") {
    r.replace = true;
  } else if (name == "long-text") {
    r.longText = true;
  } else if (name == "no-progress") {
    r.progress = false;
  }
}

// Checks that belong to the request as a whole, once every option is known.
void CheckRequest(const Request& r) {
  if (r.password && r.askPassword) Refuse("give either --password or --ask-password, not both.");
  if (r.command == Command::kExtract || r.command == Command::kExport) {
    if (!r.criterion)
      Refuse(CommandName(r.command) + " needs --criterion (its exact text or its number):\n" +
             CriterionList());
    if (extract::AsksForCharacters(*r.criterion)) {
      if (!r.chars || extract::TrimSpaces(*r.chars).empty())
        Refuse("criterion " + std::to_string(extract::CriterionIndex(*r.criterion) + 1) + " \"" +
               std::string(extract::CriterionText(*r.criterion)) +
               "\" needs the characters to look for: give them with --chars (not blank).");
    } else if (r.chars) {
      Refuse("--chars is only used by criteria 1, 2 and 17 to 20; criterion " +
             std::to_string(extract::CriterionIndex(*r.criterion) + 1) + " \"" +
             std::string(extract::CriterionText(*r.criterion)) + "\" takes none.");
    }
  }
  if (r.command == Command::kExport && extract::TrimSpaces(r.newTable).empty())
    Refuse("the new table's name is blank.");
  if (r.escape && r.format != Format::kLines) Refuse("--escape applies to --format lines only.");
  if (r.header && r.format != Format::kCsv) Refuse("--header applies to --format csv only.");
}

}  // namespace

std::optional<extract::Criterion> ParseCriterion(std::string_view text) {
  if (auto byText = extract::CriterionFromText(text)) return byText;
  // The text in another letter case ("contains space(s)").
  const extract::utf8::FoldedText folded(text);
  for (std::size_t i = 0; i < extract::kCriterionCount; ++i) {
    if (extract::utf8::FoldedText(extract::kCriterionTexts[i]).view() == folded.view())
      return static_cast<extract::Criterion>(i);
  }
  if (text.empty() || text.size() > 3 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  int number = 0;
  std::from_chars(text.data(), text.data() + text.size(), number);
  if (number < 1 || number > static_cast<int>(extract::kCriterionCount)) return std::nullopt;
  return static_cast<extract::Criterion>(number - 1);
}

std::string CriterionList() {
  std::string list;
  for (std::size_t i = 0; i < extract::kCriterionCount; ++i) {
    const std::string number = std::to_string(i + 1);
    list += std::string(number.size() < 2 ? "   " : "  ") + number + "  " +
            std::string(extract::kCriterionTexts[i]);
    if (extract::AsksForCharacters(static_cast<extract::Criterion>(i))) list += "  (needs --chars)";
    list += '\n';
  }
  return list;
}

Request ParseArguments(const std::vector<std::string>& args) {
  std::vector<GivenOption> given;
  std::vector<std::string> positional;
  bool optionsEnded = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    GivenOption option{nullptr, arg, {}};
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      std::string name = arg.substr(2);
      if (auto eq = name.find('='); eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        name.resize(eq);
        option.spelling = "--" + name;
      }
      option.info = FindLong(name);
    } else {
      option.info = FindShort(arg[1]);
      option.spelling = arg.substr(0, 2);
      if (arg.size() > 2) inlineValue = arg.substr(2);  // -n50, -pSecret
    }
    if (!option.info) Refuse("unknown option '" + option.spelling + "'.");
    if (option.info->takesValue) {
      if (inlineValue) {
        option.value = *inlineValue;
      } else if (i + 1 < args.size()) {
        option.value = args[++i];
      } else {
        Refuse("option '" + option.spelling + "' needs a value.");
      }
    } else if (inlineValue) {
      Refuse("option '" + option.spelling + "' takes no value.");
    }
    given.push_back(std::move(option));
  }

  Request r;
  for (const GivenOption& o : given) {
    if (o.info->longName == "help") return r;  // help wins over anything else on the line
  }
  for (const GivenOption& o : given) {
    if (o.info->longName == "version") {
      r.command = Command::kVersion;
      return r;
    }
  }
  if (positional.empty()) Refuse("no command given.");

  const CommandInfo* command = nullptr;
  for (const CommandInfo& info : Commands())
    if (info.name == positional[0]) command = &info;
  if (!command)
    Refuse("unknown command '" + positional[0] +
           "'. Commands: tables, fields, preview, extract, export, criteria, help, version.");
  r.command = command->command;

  const std::size_t operands = positional.size() - 1;
  if (operands < command->operands.size())
    Refuse(std::string(command->name) + " needs " + std::string(command->operands[operands]) +
           " (usage: " + std::string(command->name) +
           [&] {
             std::string names;
             for (std::string_view n : command->operands) names += " " + std::string(n);
             return names;
           }() +
           ").");
  if (operands > command->operands.size())
    Refuse("too many arguments for " + std::string(command->name) + ": '" +
           positional[command->operands.size() + 1] + "' is not expected.");
  std::vector<std::string*> slots = {&r.database, &r.table, &r.field, &r.newTable};
  for (std::size_t k = 0; k < operands; ++k) *slots[k] = positional[k + 1];
  if (operands > 0 && r.database.empty()) Refuse("the database file name is empty.");

  const unsigned uses = UsesOf(r.command);
  for (const GivenOption& o : given) {
    if (o.info->uses != 0 && (o.info->uses & uses) == 0)
      Refuse("option '" + o.spelling + "' does not apply to " + std::string(command->name) + ".");
    Apply(r, o);
  }
  CheckRequest(r);
  return r;
}

}  // namespace cli
