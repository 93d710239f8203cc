// A Prompts that answers from a script and records every question, for tests.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "steps/prompts.h"

namespace testsupport {

class ScriptedPrompts : public steps::Prompts {
 public:
  struct Message {
    std::string text;
    int style;
    std::string title;
  };

  // Answers queued for the next boxes; when a queue is empty: OK / Yes for message boxes
  // (kOk for OK-only boxes, kYes otherwise unless defaultNo), "" for input boxes and dialogs.
  std::deque<int> messageAnswers;
  std::deque<std::string> inputAnswers;
  std::deque<std::string> fileAnswers;
  bool defaultNo = false;

  std::vector<Message> messages;
  std::vector<std::string> inputPrompts;
  std::vector<steps::FileDialogRequest> fileRequests;
  std::vector<std::string> openedUrls;
  bool urlsFail = false;

  int messageBox(const std::string& text, int style, const std::string& title) override {
    messages.push_back({text, style, title});
    if (!messageAnswers.empty()) {
      int a = messageAnswers.front();
      messageAnswers.pop_front();
      return a;
    }
    if ((style & 7) == steps::box::kYesNo) return defaultNo ? steps::box::kNo : steps::box::kYes;
    return steps::box::kOk;
  }
  std::string inputBox(const std::string& prompt, const std::string&, const std::string&) override {
    inputPrompts.push_back(prompt);
    return pop(inputAnswers);
  }
  std::string openFileDialog(const steps::FileDialogRequest& request) override {
    fileRequests.push_back(request);
    return pop(fileAnswers);
  }
  bool openUrl(const std::string& url) override {
    openedUrls.push_back(url);
    return !urlsFail;
  }

  // Messages whose title is "Application Error".
  std::vector<Message> errorReports() const {
    std::vector<Message> out;
    for (const auto& m : messages)
      if (m.title == "Application Error") out.push_back(m);
    return out;
  }

 private:
  static std::string pop(std::deque<std::string>& q) {
    if (q.empty()) return {};
    std::string s = q.front();
    q.pop_front();
    return s;
  }
};

}  // namespace testsupport
