#include "app/startup.h"

#include "steps/procedure.h"
#include "app/program.h"
#include "db/catalog.h"

namespace app {

bool RunStartup(StartupWindow& window, Settings& settings, steps::Prompts& prompts,
                const StartupHooks& hooks) {
  steps::Procedure p(prompts, "Form1.Form_Load");

  p.step(100, [&] {
    if (hooks.applySkin) hooks.applySkin();
  });
  p.step(106, [&] {
    window.setCaption(kProductName);
    window.setProgramIcon();
    SetApplicationTitle();
  });
  if (p.when(124, [] { return db::FileExists(HandPointerPath()); })) {
    p.step(126, [&] { window.loadPointerImage(HandPointerPath()); });
  }
  p.step(128, [&] { window.setPath(settings.load(setting::kDatabasePath, "")); });
  p.step(130, [&] { window.setPassword(settings.load(setting::kPassword, "")); });

  bool providerPresent = true;
  p.step(136, [&] {
    if (hooks.providerCheck) providerPresent = hooks.providerCheck();
  });
  if (!providerPresent) return false;

  if (p.when(132, [&] { return db::FileExists(window.path()); })) {
    p.step(134, [&] { window.next(); });
  }

  if (!window.workspaceShown()) window.show();
  return true;
}

}  // namespace app
