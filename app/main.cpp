// Rowsifter: the selection window opens (its load is the start-up sequence) and the program
// runs until either window is closed.
#include <QApplication>
#include <QCoreApplication>

#include "app/qt_prompts.h"
#include "app/settings.h"
#include "screens/form1.h"
#include "screens/windows.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  app::UserSettings settings;
  app::QtPrompts prompts;

  screens::WindowsOptions options;
  options.endProgram = [] { QCoreApplication::exit(0); };
  screens::Windows windows(prompts, settings, options);
  if (!windows.form1().Form_Load()) return 0;
  return application.exec();
}
