// The one seam through which the program asks the user anything: message boxes, input boxes,
// the file-open dialog, and opening a web page. The windows use QtPrompts; tests answer with a
// scripted implementation.
#pragma once

#include <string>

namespace steps {

// Message box styles and answers, with the platform's numbers.
namespace box {
constexpr int kOkOnly = 0;
constexpr int kYesNo = 4;
constexpr int kExclamation = 48;
constexpr int kOk = 1;
constexpr int kYes = 6;
constexpr int kNo = 7;
}  // namespace box

// What the file-open dialog is asked for.
struct FileDialogRequest {
  std::string title;     // e.g. "Select Access Database"
  std::string filter;    // "Description|pattern|Description|pattern|..." (may end with "|")
  long flags = 0;        // the platform's open-file flags (1 read-only box ticked, ...)
  std::string fileName;  // initial file name
  std::string folder;    // the folder the dialog opens in; empty: the dialog's own choice
};

class Prompts {
 public:
  virtual ~Prompts() = default;
  // Shows a modal message box; an empty title means the application title. Returns the answer
  // (box::kOk, box::kYes or box::kNo).
  virtual int messageBox(const std::string& text, int style, const std::string& title) = 0;
  // Shows a modal input box; Cancel gives the empty text.
  virtual std::string inputBox(const std::string& prompt, const std::string& title,
                               const std::string& defaultText) = 0;
  // Shows the file-open dialog; Cancel gives the empty text.
  virtual std::string openFileDialog(const FileDialogRequest& request) = 0;
  // Opens a web page with the desktop's default handler. False when that failed.
  virtual bool openUrl(const std::string& url) = 0;
};

}  // namespace steps
