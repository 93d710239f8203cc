// Numbered steps and the "Application Error" report.
//
// Every procedure that carries out a user action or loads a window runs its steps through one
// Procedure. A step that fails (throws) is reported in one modal box naming the failure, the
// procedure and the step's line number; the procedure then goes on with its next step. When the
// condition of a conditional step fails, the report is shown and the body runs as though the
// condition had held.
//
//   steps::Procedure p(prompts, "Form1.PushButton2_Click");
//   std::optional<std::vector<std::string>> names;
//   p.step(100, [&] { names = db::GetTableNames(...); });
//   if (p.when(102, [&] { return !names; })) { p.step(104, [&] { names.reset(); }); return; }
//   p.step(106, [&] { ... });
#pragma once

#include <functional>
#include <string>

#include "steps/prompts.h"

namespace steps {

// The support address that ends every report.
extern const char* const kSupportEmail;

// Text of the report: description, CR LF, "in Siftwell2021/08/31." + procedure + " ",
// "at line " + line, CR CR, the request for a screenshot.
std::string ApplicationErrorText(const std::string& description, const std::string& procedure,
                                 int line);

// Shows the report ("Application Error", exclamation icon, OK only) and waits for OK.
// Never throws.
void ReportApplicationError(Prompts& prompts, const std::string& description,
                            const std::string& procedure, int line);

// The description of the exception being handled: what() of a std::exception (for a db::Error,
// its description), or a generic text. Call only inside a catch block.
std::string CurrentFailureDescription();

class Procedure {
 public:
  // `procedure` is the window and handler, e.g. "Form1.Form_Load".
  Procedure(Prompts& prompts, std::string procedure);

  // Runs one step. A failure is reported with `line`; returns whether the step completed.
  bool step(int line, const std::function<void()>& body);

  // Evaluates a step's condition. A failure is reported with `line` and counts as true.
  bool when(int line, const std::function<bool()>& condition);

  // Number of failures reported so far.
  int failures() const { return failures_; }

 private:
  void report(int line);

  Prompts& prompts_;
  std::string procedure_;
  int failures_ = 0;
};

}  // namespace steps
