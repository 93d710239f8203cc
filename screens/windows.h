// The program's two windows and what they share: the prompts, the settings, the hooks that
// other parts supply, and the way the program ends.
//
// The selection window Form1 exists from the start; the workspace Form2 is created and loaded
// the first time its table list is filled. Both are created once and then only shown and
// hidden, so their contents survive every switch between them.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "steps/clock.h"
#include "steps/prompts.h"
#include "app/settings.h"
#include "app/startup.h"

namespace screens {

class Form1;
class Form2;

struct WindowsOptions {
  // The start-up steps other parts supply (look, provider check).
  app::StartupHooks startup;
  // The selection window's look, run by its load as the start-up's first step (instead of
  // startup.applySkin when both are given); empty: nothing to do.
  std::function<void(QWidget&)> applySkin;
  // The workspace's background and frame colour, run by its load; empty: nothing to do.
  std::function<void(QWidget&)> applyFaceColours;
  // The clock of the pauses in the extraction and the export. Empty: the system clock.
  std::shared_ptr<steps::Clock> clock;
  // Ends the program (closing either window). Empty: QCoreApplication::exit(0).
  std::function<void()> endProgram;
};

class Windows {
 public:
  Windows(steps::Prompts& prompts, app::Settings& settings, WindowsOptions options = {});
  ~Windows();
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;

  Form1& form1() { return *form1_; }
  // The workspace; created and loaded (hidden) on first use.
  Form2& form2();
  bool form2Created() const { return form2_ != nullptr; }

  // Reads the table names of the database named in Form1 and fills the workspace's table
  // list, which lists the fields of the first table and previews its first field. A path that
  // names no file changes nothing. Failures (db::Error) pass to the caller.
  void FillTableList();

  // The connection string of Form1's path and password boxes as they are now.
  std::string connectionString() const;

  // Ends the program (closing either window). A run or an export that is pausing when it is
  // called stops at once (ending() turns true) and returns to the event loop, which ends.
  void endProgram();
  bool ending() const { return ending_; }

  steps::Prompts& prompts() { return prompts_; }
  app::Settings& settings() { return settings_; }
  const WindowsOptions& options() const { return options_; }
  steps::Clock& clock() { return *options_.clock; }

 private:
  steps::Prompts& prompts_;
  app::Settings& settings_;
  WindowsOptions options_;
  std::unique_ptr<Form1> form1_;
  std::unique_ptr<Form2> form2_;
  bool ending_ = false;
};

}  // namespace screens
