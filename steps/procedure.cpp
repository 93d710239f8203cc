#include "steps/procedure.h"

#include <exception>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace steps {

const char* const kSupportEmail = "support@quillmoor.com";

namespace {
constexpr const char* kReportTitle = "Application Error";
constexpr const char* kLocationPrefix = "in Siftwell2021/08/31.";
constexpr const char* kUnknownFailure = "Unexpected failure of unknown kind";
}  // namespace

std::string ApplicationErrorText(const std::string& description, const std::string& procedure,
                                 int line) {
  std::string text = description;
  text += "\r\n";
  text += kLocationPrefix;
  text += procedure;
  text += " at line ";
  text += std::to_string(line);
  text += "\r\r";
  text += "Please email screenshot of this message to ";
  text += kSupportEmail;
  return text;
}

void ReportApplicationError(Prompts& prompts, const std::string& description,
                            const std::string& procedure, int line) {
  try {
    prompts.messageBox(ApplicationErrorText(description, procedure, line), box::kExclamation,
                       kReportTitle);
  } catch (const std::exception& e) {
    // The box itself could not be shown; the failure must still be seen somewhere.
    std::cerr << kReportTitle << " (" << procedure << ", line " << line << "): " << description
              << " [the report box failed: " << e.what() << "]\n";
  } catch (...) {
    std::cerr << kReportTitle << " (" << procedure << ", line " << line << "): " << description
              << " [the report box failed]\n";
  }
}

std::string CurrentFailureDescription() {
  std::exception_ptr current = std::current_exception();
  if (!current) return kUnknownFailure;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {  // a db::Error's what() is its description
    return e.what();
  } catch (...) {
    return kUnknownFailure;
  }
}

Procedure::Procedure(Prompts& prompts, std::string procedure)
    : prompts_(prompts), procedure_(std::move(procedure)) {}

bool Procedure::step(int line, const std::function<void()>& body) {
  try {
    body();
    return true;
  } catch (...) {
    report(line);
    return false;
  }
}

bool Procedure::when(int line, const std::function<bool()>& condition) {
  try {
    return condition();
  } catch (...) {
    // A condition that fails counts as held: the body of the conditional runs.
    report(line);
    return true;
  }
}

// Called only from inside a catch block.
void Procedure::report(int line) {
  ++failures_;
  ReportApplicationError(prompts_, CurrentFailureDescription(), procedure_, line);
}

}  // namespace steps
