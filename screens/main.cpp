// Rowsifter: the selection window opens (its load is the start-up sequence) and the program
// runs until either window is closed. When databases cannot be opened at all, the start-up
// explains why and the program ends without showing a window.
#include <QApplication>
#include <QCoreApplication>
#include <csignal>

#include "app/look.h"
#include "app/program.h"
#include "app/provider_check.h"
#include "app/qt_prompts.h"
#include "app/settings.h"
#include "app/skin_engine.h"
#include "screens/form1.h"
#include "screens/windows.h"

int main(int argc, char** argv) {
  // Past a file-size limit a write fails (EFBIG), and the export reports and undoes it, instead
  // of the signal killing the program half-way through a commit.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication application(argc, argv);
  app::UserSettings settings;
  app::QtPrompts prompts;
  app::SkinEngine skin;

  screens::WindowsOptions options;
  options.endProgram = [] { QCoreApplication::exit(0); };
  options.applySkin = [&skin](QWidget& window) { app::ApplySkin(window, skin, app::SkinPath()); };
  options.applyFaceColours = [](QWidget& window) { app::ApplyFaceColours(window); };
  options.startup.providerCheck = [&prompts] { return app::CheckProvider(prompts); };
  screens::Windows windows(prompts, settings, options);
  if (!windows.form1().Form_Load()) return 1;
  return application.exec();
}
