// The start-up sequence: the load of the database selection window. It gives the program its
// look and title, puts the last path and password back, checks that databases can be opened
// at all, and goes straight on to the workspace when the remembered file still exists.
#pragma once

#include <functional>
#include <string>

#include "steps/prompts.h"
#include "app/settings.h"

namespace app {

// What the sequence needs of the database selection window.
class StartupWindow {
 public:
  virtual ~StartupWindow() = default;
  virtual void setCaption(const std::string& caption) = 0;
  virtual void setProgramIcon() = 0;
  // Loads the window's own pointer image. Throws when the file cannot be read.
  virtual void loadPointerImage(const std::string& path) = 0;
  // The path and password boxes. Setting a box fires its change handler, which saves it.
  virtual void setPath(const std::string& text) = 0;
  virtual void setPassword(const std::string& text) = 0;
  virtual std::string path() const = 0;
  // The "Next >" action; it reports its own failures.
  virtual void next() = 0;
  // Whether the workspace is showing (the "Next >" action opened it).
  virtual bool workspaceShown() const = 0;
  // Shows the window, centred, as the program's first window.
  virtual void show() = 0;
};

// The steps that other parts of the program supply. Empty functions stand for "nothing to do"
// (look) and "passed" (provider check).
struct StartupHooks {
  std::function<void()> applySkin;      // step 100: the look of the selection window
  std::function<bool()> providerCheck;  // step 136: false when databases cannot be opened
};

// Runs the sequence under the error report of "Form1.Form_Load". Returns false when the
// program must end at once (the provider check failed); no window has been shown then.
bool RunStartup(StartupWindow& window, Settings& settings, steps::Prompts& prompts,
                const StartupHooks& hooks);

}  // namespace app
