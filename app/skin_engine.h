// The skin engine: a skin file is a Qt style sheet that gives the program's windows their look.
//
// Its few operations follow the usual shape of such engines: load a skin file, set option
// flags, say whether dialogs take the skin too and whether the skin is in force, and apply it to
// a window. The selection window's load drives it once, through ApplySkin (app/look.h).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <string>
#include <vector>

class QWidget;

namespace app {

class SkinEngine : public QObject {
  Q_OBJECT

 public:
  // Option flag: windows shown after applyWindow() take the skin too.
  static constexpr int kOptionNewWindows = 1;

  SkinEngine();
  ~SkinEngine() override;

  // Reads the skin file. Throws std::runtime_error when it cannot be read, is not UTF-8 text,
  // or Qt cannot parse it as a style sheet; the skin loaded before (if any) stays then.
  void loadSkin(const std::string& path);
  bool loaded() const { return loaded_; }
  const QString& styleSheet() const { return sheet_; }

  int options() const { return options_; }
  void setOptions(int flags) { options_ = flags; }

  // Whether message boxes, input boxes and file dialogs shown later take the skin as well
  // (only with kOptionNewWindows).
  void setSkinDialogs(bool on) { skinDialogs_ = on; }
  bool skinDialogs() const { return skinDialogs_; }

  // Whether the skin is in force. Switching it off takes it off every window it was given to.
  void setEnabled(bool on);
  bool enabled() const { return enabled_; }

  // Gives `window` and its controls the skin. Throws std::runtime_error when no skin is loaded
  // or the engine is switched off.
  void applyWindow(QWidget& window);

  // Checks a style sheet the way Qt reads it. Throws std::runtime_error naming `origin` when
  // Qt cannot parse it.
  static void CheckStyleSheet(const QString& sheet, const std::string& origin);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void skin(QWidget& window);

  QString sheet_;
  bool loaded_ = false;
  int options_ = 0;
  bool skinDialogs_ = false;
  bool enabled_ = false;
  bool watching_ = false;  // filtering the application's events for new windows
  std::vector<QPointer<QWidget>> skinned_;
};

}  // namespace app
