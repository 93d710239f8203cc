#include "extract/value_walk.h"

#include <algorithm>
#include <cmath>

#include "db/error.h"

namespace extract {

std::string_view TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

bool AskUserCharacters(app::Procedure& procedure, Workspace& workspace, app::Prompts& prompts,
                       const PromptLines& lines, std::string& userChars) {
  bool asked = false;
  std::string answer;
  auto ask = [&](int line) {
    asked = true;
    procedure.step(line, [&] { answer = prompts.inputBox(kUserCharactersPrompt, "", ""); });
  };
  auto is = [&](Criterion c) { return workspace.criterionText() == CriterionText(c); };

  if (procedure.when(lines.compareFirst, [&] { return is(Criterion::kContainsUserChars); })) {
    ask(lines.askFirst);
  } else if (procedure.when(lines.compareSecond,
                            [&] { return is(Criterion::kNotContainsUserChars); })) {
    ask(lines.askSecond);
  } else if (procedure.when(lines.compareLater, [&] {
               const auto c = CriterionFromText(workspace.criterionText());
               return c && AsksForCharacters(*c);
             })) {
    ask(lines.askLater);
  }
  if (!asked) return true;
  if (procedure.when(lines.blankAnswer, [&] { return TrimSpaces(answer).empty(); })) return false;
  userChars = std::move(answer);
  return true;
}

db::Recordset& OpenRecordset(const std::unique_ptr<db::Recordset>& recordset) {
  if (!recordset || !recordset->isOpen())
    throw db::Error(db::errc::kClosed, "Operation is not allowed when the object is closed.");
  return *recordset;
}

int ProgressPercent(long long i, long long n) {
  if (n <= 0) return 100;
  const double percent = static_cast<double>(i) / static_cast<double>(n) * 100.0;
  return static_cast<int>(std::clamp(std::lround(percent), 0L, 100L));
}

bool ReadValueText(app::Procedure& procedure, int line,
                   const std::unique_ptr<db::Recordset>& recordset, std::string& text) {
  // The step is "if the value is Null, skip the row": a failure counts as the condition held.
  const bool skip = procedure.when(line, [&] {
    const db::Value& value = OpenRecordset(recordset).value(0);
    if (value.isNull()) return true;
    text = value.toText();
    return false;
  });
  return !skip;
}

}  // namespace extract
