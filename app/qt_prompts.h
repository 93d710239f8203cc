// The Prompts of the running program: Qt's message box, input dialog and file dialog, and the
// desktop's URL handler.
#pragma once

#include <QString>
#include <string>

#include "steps/prompts.h"

class QWidget;

namespace app {

class QtPrompts : public steps::Prompts {
 public:
  // `parent` centres the boxes; without one they centre on the active window. Boxes are modal
  // to the whole program either way.
  explicit QtPrompts(QWidget* parent = nullptr);

  int messageBox(const std::string& text, int style, const std::string& title) override;
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override;
  std::string openFileDialog(const steps::FileDialogRequest& request) override;
  bool openUrl(const std::string& url) override;

  void setParent(QWidget* parent) { parent_ = parent; }

 private:
  QWidget* dialogParent() const;

  QWidget* parent_;
};

// The file dialog's filter "Description|pattern|Description|pattern|" in Qt's form
// "Description (pattern);;Description (pattern)"; several patterns joined by ";" become
// space-separated. A description without a pattern is dropped.
QString QtFileFilter(const std::string& filter);

// A box text with its line breaks (CR LF, or a lone CR or LF) made into Qt's line feeds.
QString DisplayText(const std::string& text);

}  // namespace app
