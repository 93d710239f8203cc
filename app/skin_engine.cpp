#include "app/skin_engine.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFile>
#include <QStringDecoder>
#include <QWidget>
#include <stdexcept>

namespace app {
namespace {

// Qt reports a style sheet it cannot parse only as a warning, when a widget is polished with
// it. The check polishes a scratch widget and listens for that warning.
QtMessageHandler previousHandler = nullptr;
bool parseFailed = false;

void ListenForParseFailure(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
  if (message.startsWith(QLatin1String("Could not parse"))) {
    parseFailed = true;
    return;
  }
  if (previousHandler) previousHandler(type, context, message);
}

}  // namespace

SkinEngine::SkinEngine() = default;

SkinEngine::~SkinEngine() {
  if (watching_ && qApp) qApp->removeEventFilter(this);
}

void SkinEngine::CheckStyleSheet(const QString& sheet, const std::string& origin) {
  parseFailed = false;
  previousHandler = qInstallMessageHandler(ListenForParseFailure);
  {
    QWidget scratch;
    scratch.setStyleSheet(sheet);
    scratch.ensurePolished();
  }
  qInstallMessageHandler(previousHandler);
  previousHandler = nullptr;
  if (parseFailed)
    throw std::runtime_error("The skin file " + origin + " is not a valid style sheet.");
}

void SkinEngine::loadSkin(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly))
    throw std::runtime_error("Cannot read the skin file " + path + ": " +
                             file.errorString().toStdString());
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError)
    throw std::runtime_error("Cannot read the skin file " + path + ": " +
                             file.errorString().toStdString());
  QStringDecoder decoder(QStringDecoder::Utf8);
  const QString sheet = decoder.decode(bytes);
  if (decoder.hasError() || sheet.contains(QChar(0)))
    throw std::runtime_error("The skin file " + path + " is not a text file.");
  CheckStyleSheet(sheet, path);
  sheet_ = sheet;
  loaded_ = true;
}

void SkinEngine::setEnabled(bool on) {
  enabled_ = on;
  if (on) return;
  for (const auto& window : skinned_)
    if (window) window->setStyleSheet(QString());
  skinned_.clear();
}

void SkinEngine::applyWindow(QWidget& window) {
  if (!loaded_) throw std::runtime_error("No skin has been loaded.");
  if (!enabled_) throw std::runtime_error("The skin is switched off.");
  skin(window);
  if ((options_ & kOptionNewWindows) && !watching_ && qApp) {
    qApp->installEventFilter(this);
    watching_ = true;
  }
}

void SkinEngine::skin(QWidget& window) {
  window.setStyleSheet(sheet_);
  std::erase_if(skinned_, [](const QPointer<QWidget>& w) { return w.isNull(); });
  skinned_.emplace_back(&window);
}

bool SkinEngine::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Show || !enabled_ || !(options_ & kOptionNewWindows)) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  // A window with a style sheet of its own keeps it.
  if (!widget || !widget->isWindow() || !widget->styleSheet().isEmpty()) return false;
  if (qobject_cast<QDialog*>(widget) && !skinDialogs_) return false;
  // Tool tips and pop-up lists belong to a window that already has the skin.
  if (widget->windowType() == Qt::ToolTip || widget->windowType() == Qt::Popup) return false;
  skin(*widget);
  return false;
}

}  // namespace app
