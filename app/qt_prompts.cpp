#include "app/qt_prompts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>
#include <vector>

#include "app/program.h"

namespace app {
namespace {

QString TitleOrApplicationTitle(const std::string& title) {
  return QString::fromStdString(title.empty() ? ApplicationTitle() : title);
}

QMessageBox::Icon IconOf(int style) {
  switch (style & 0x70) {
    case 16:
      return QMessageBox::Critical;
    case 32:
      return QMessageBox::Question;
    case 48:
      return QMessageBox::Warning;
    case 64:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

// The buttons of the style's lowest three bits, in their order on the box.
std::vector<QMessageBox::StandardButton> ButtonsOf(int style) {
  switch (style & 7) {
    case 1:
      return {QMessageBox::Ok, QMessageBox::Cancel};
    case 2:
      return {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore};
    case 3:
      return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
    case steps::box::kYesNo:
      return {QMessageBox::Yes, QMessageBox::No};
    case 5:
      return {QMessageBox::Retry, QMessageBox::Cancel};
    default:
      return {QMessageBox::Ok};
  }
}

int AnswerOf(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Ok:
      return steps::box::kOk;
    case QMessageBox::Cancel:
      return 2;
    case QMessageBox::Abort:
      return 3;
    case QMessageBox::Retry:
      return 4;
    case QMessageBox::Ignore:
      return 5;
    case QMessageBox::Yes:
      return steps::box::kYes;
    case QMessageBox::No:
      return steps::box::kNo;
    default:
      return 0;
  }
}

}  // namespace

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns) p = p.trimmed();
    patterns.removeAll(QString());
    if (patterns.isEmpty()) continue;
    entries << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                   QLatin1Char(')');
  }
  return entries.join(QStringLiteral(";;"));
}

QString DisplayText(const std::string& text) {
  QString out = QString::fromStdString(text);
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return out;
}

QtPrompts::QtPrompts(QWidget* parent) : parent_(parent) {}

QWidget* QtPrompts::dialogParent() const {
  return parent_ != nullptr ? parent_ : QApplication::activeWindow();
}

int QtPrompts::messageBox(const std::string& text, int style, const std::string& title) {
  QMessageBox box(dialogParent());
  box.setWindowTitle(TitleOrApplicationTitle(title));
  // Descriptions come from files and databases: never let them be read as markup.
  box.setTextFormat(Qt::PlainText);
  box.setText(DisplayText(text));
  box.setIcon(IconOf(style));
  box.setWindowModality(Qt::ApplicationModal);
  const std::vector<QMessageBox::StandardButton> buttons = ButtonsOf(style);
  QMessageBox::StandardButtons all;
  for (auto b : buttons) all |= b;
  box.setStandardButtons(all);
  box.setDefaultButton(buttons.front());
  box.exec();
  int answer = AnswerOf(box.standardButton(box.clickedButton()));
  if (answer == 0) {
    // Closed without a button: the box's cancelling answer, else its last button's.
    answer = AnswerOf(box.escapeButton() != nullptr ? box.standardButton(box.escapeButton())
                                                    : buttons.back());
  }
  return answer;
}

std::string QtPrompts::inputBox(const std::string& prompt, const std::string& title,
                                const std::string& defaultText) {
  QInputDialog dialog(dialogParent());
  dialog.setWindowTitle(TitleOrApplicationTitle(title));
  dialog.setLabelText(DisplayText(prompt));
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setTextValue(QString::fromStdString(defaultText));
  dialog.setWindowModality(Qt::ApplicationModal);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.textValue().toStdString();
}

std::string QtPrompts::openFileDialog(const steps::FileDialogRequest& request) {
  QFileDialog dialog(dialogParent(), QString::fromStdString(request.title));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  // Show the descriptions only, as they already name their patterns.
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  const QString filter = QtFileFilter(request.filter);
  if (!filter.isEmpty()) dialog.setNameFilter(filter);
  if (!request.folder.empty()) dialog.setDirectory(QString::fromStdString(request.folder));
  if (!request.fileName.empty()) dialog.selectFile(QString::fromStdString(request.fileName));
  dialog.setWindowModality(Qt::ApplicationModal);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? std::string() : chosen.front().toStdString();
}

bool QtPrompts::openUrl(const std::string& url) {
  const QUrl target(QString::fromStdString(url), QUrl::StrictMode);
  if (!target.isValid() || target.isRelative()) return false;
  return QDesktopServices::openUrl(target);
}

}  // namespace app
