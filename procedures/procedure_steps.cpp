#include "procedures/procedure_steps.h"

#include <algorithm>
#include <cmath>

namespace procedures {

using extract::Criterion;

bool AskUserCharacters(steps::Procedure& procedure, Workspace& workspace, steps::Prompts& prompts,
                       const PromptLines& lines, std::string& userChars) {
  bool asked = false;
  std::string answer;
  auto ask = [&](int line) {
    asked = true;
    procedure.step(line, [&] { answer = prompts.inputBox(kUserCharactersPrompt, "", ""); });
  };
  auto is = [&](Criterion c) { return workspace.criterionText() == extract::CriterionText(c); };

  if (procedure.when(lines.compareFirst, [&] { return is(Criterion::kContainsUserChars); })) {
    ask(lines.askFirst);
  } else if (procedure.when(lines.compareSecond,
                            [&] { return is(Criterion::kNotContainsUserChars); })) {
    ask(lines.askSecond);
  } else if (procedure.when(lines.compareLater, [&] {
               const auto c = extract::CriterionFromText(workspace.criterionText());
               return c && extract::AsksForCharacters(*c);
             })) {
    ask(lines.askLater);
  }
  if (!asked) return true;
  if (procedure.when(lines.blankAnswer, [&] { return extract::TrimSpaces(answer).empty(); }))
    return false;
  userChars = std::move(answer);
  return true;
}

int ProgressPercent(long long i, long long n) {
  if (n <= 0) return 100;
  const double percent = static_cast<double>(i) / static_cast<double>(n) * 100.0;
  return static_cast<int>(std::clamp(std::lround(percent), 0L, 100L));
}

bool RepeatsForEveryValue(const db::Error& error) {
  switch (error.number()) {
    case db::errc::kTransactionEnded:
    case db::errc::kClosed:
    case db::errc::kNoSuchObject:
      return true;
    default:
      return false;
  }
}

bool WalkSteps::more(long long row) {
  if (workspace_.ending()) stopped_ = true;
  return !stopped_ && row <= lastRow_;
}

db::Error WalkSteps::withStopNote(const db::Error& e) const {
  // An ended transaction says itself that nothing of it was kept.
  if (stopNote_.empty() || e.number() == db::errc::kTransactionEnded) return e;
  return db::Error(e.number(), e.description() + " " + stopNote_, e.kind());
}

void WalkSteps::beforeRow(long long row) {
  procedure_.step(lines_.progress, [&] { workspace_.setProgress(ProgressPercent(row, lastRow_)); });
}

std::optional<Criterion> WalkSteps::criterion() {
  std::optional<Criterion> criterion;
  // The comparisons run in list order, so a criterion that cannot be read fails at the first
  // one, and a failed comparison counts as equal.
  if (procedure_.when(lines_.criteria.comparison(1), [&] {
        criterion = extract::CriterionFromText(workspace_.criterionText());
        return criterion == Criterion::kContainsUserChars;
      })) {
    criterion = Criterion::kContainsUserChars;
  }
  return criterion;
}

void WalkSteps::afterRow(long long row) {
  if (stopped_) return;
  procedure_.step(lines_.pause, [&] {
    if (row % kValuesBetweenPauses == 0) steps::WaitSeconds(clock_, kPauseSeconds);
  });
  // The windows may have been closed during the pause.
  if (workspace_.ending()) stopped_ = true;
}

}  // namespace procedures
