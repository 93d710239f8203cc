#include "app/provider_check.h"

#include <QString>
#include <iostream>

#include "steps/procedure.h"
#include "db/base/error.h"
#include "db/connection.h"

namespace app {
namespace {

constexpr const char* kParagraphBreak = "\r\n\r\n";

// Number and description of the failure being handled; number 0 when it carries none.
struct Failure {
  long number = 0;
  std::string description;
};

Failure CurrentFailure() {
  try {
    throw;
  } catch (const db::Error& e) {
    return {e.number(), e.description()};
  } catch (const std::exception& e) {
    return {0, e.what()};
  } catch (...) {
    return {};
  }
}

// Opens one page; a failure is noted on the error stream and otherwise ignored, so that the
// other page is still opened.
void OpenPage(steps::Prompts& prompts, const char* page) {
  try {
    if (!prompts.openUrl(page)) std::cerr << "Could not open " << page << "\n";
  } catch (const std::exception& e) {
    std::cerr << "Could not open " << page << ": " << e.what() << "\n";
  } catch (...) {
    std::cerr << "Could not open " << page << "\n";
  }
}

}  // namespace

std::string ProviderHelpText() {
  const std::string paragraphs[] = {
      "Error #3706: Provider cannot be found. It may not be properly installed.",
      "You are getting this error because:",
      "1. Microsoft Access is not installed on your computer.",
      "2. A set of Microsoft components to transfer data is not installed on your computer.",
      "You need to download and install Microsoft Access Database Engine 2010 or 2016 to solve "
      "this problem.",
      "Would you like me to open the Microsoft site now so you can do this?",
      std::string("(If you have any further questions please email a screenshot of this error "
                  "message to ") +
          steps::kSupportEmail + ")",
  };
  std::string text;
  for (const auto& paragraph : paragraphs) {
    if (!text.empty()) text += kParagraphBreak;
    text += paragraph;
  }
  return text;
}

bool IsProviderMissing(long number, const std::string& description) {
  return number == db::errc::kNoProvider ||
         QString::fromStdString(description)
             .contains(QStringLiteral("provider cannot be found"), Qt::CaseInsensitive);
}

bool CheckProvider(steps::Prompts& prompts, const std::function<void()>& createConnection) {
  try {
    if (createConnection) {
      createConnection();
    } else {
      db::Connection connection;  // the engines are linked in: this cannot fail
    }
    return true;
  } catch (...) {
    const Failure failure = CurrentFailure();
    if (!IsProviderMissing(failure.number, failure.description)) {
      // No box for this case; the note keeps the reason the program ended from being lost.
      std::cerr << "Databases cannot be opened: "
                << (failure.description.empty() ? "unknown failure" : failure.description) << "\n";
      return false;
    }
  }

  int answer = steps::box::kNo;
  try {
    answer = prompts.messageBox(ProviderHelpText(), steps::box::kYesNo, "");
  } catch (...) {
    return false;
  }
  if (answer == steps::box::kYes) {
    OpenPage(prompts, kEngine2010Page);
    OpenPage(prompts, kEngine2016Page);
  }
  return false;
}

}  // namespace app
