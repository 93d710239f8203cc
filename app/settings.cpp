#include "app/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

namespace app {
namespace {

constexpr const char* kOrganization = "Quillmoor";
constexpr const char* kSection = "Rowsifter";
constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;

std::unique_ptr<QSettings> OpenStore(const std::string& file) {
  if (file.empty()) return std::make_unique<QSettings>(QSettings::UserScope, kOrganization);
  return std::make_unique<QSettings>(QString::fromStdString(file), QSettings::IniFormat);
}

std::string StatusText(QSettings::Status status) {
  switch (status) {
    case QSettings::AccessError:
      return "access denied";
    case QSettings::FormatError:
      return "the file is not a settings file";
    default:
      return "unknown failure";
  }
}

std::string SystemError(int code) { return std::strerror(code); }

// The store holds a password: it is created readable and writable by its owner only, before Qt
// first writes to it, so that its contents are never readable by others, not even for a moment.
void CreateOwnerOnly(const QString& path) {
  QFileInfo info(path);
  if (info.exists()) return;
  if (!QDir().mkpath(info.absolutePath()))
    throw std::runtime_error("Cannot create the settings folder " +
                             info.absolutePath().toStdString());
  const QByteArray native = QFile::encodeName(path);
  int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kOwnerOnly);
  if (fd < 0) {
    if (errno == EEXIST) return;  // another copy of the program made it just now
    throw std::runtime_error("Cannot create the settings file " + path.toStdString() + ": " +
                             SystemError(errno));
  }
  ::close(fd);
}

// Qt replaces the file on every write (a new file renamed over the old one); put the owner-only
// mode back should the new file have come out with any other.
void KeepOwnerOnly(const QString& path) {
  const QByteArray native = QFile::encodeName(path);
  struct stat st {};
  if (::stat(native.constData(), &st) != 0)
    throw std::runtime_error("Cannot check the settings file " + path.toStdString() + ": " +
                             SystemError(errno));
  if ((st.st_mode & 07777) == kOwnerOnly) return;
  if (::chmod(native.constData(), kOwnerOnly) != 0)
    throw std::runtime_error("Cannot protect the settings file " + path.toStdString() + ": " +
                             SystemError(errno));
}

}  // namespace

UserSettings::UserSettings(std::string file) : file_(std::move(file)) {}

std::string UserSettings::fileName() const {
  if (!file_.empty()) return file_;
  return OpenStore(file_)->fileName().toStdString();
}

void UserSettings::save(const std::string& key, const std::string& value) {
  std::unique_ptr<QSettings> store = OpenStore(file_);
  const QString path = store->fileName();
  CreateOwnerOnly(path);
  store->beginGroup(kSection);
  store->setValue(QString::fromStdString(key), QString::fromStdString(value));
  store->endGroup();
  store->sync();
  if (store->status() != QSettings::NoError)
    throw std::runtime_error("Cannot write the setting " + key + " to " + path.toStdString() +
                             ": " + StatusText(store->status()));
  KeepOwnerOnly(path);
}

std::string UserSettings::load(const std::string& key, const std::string& fallback) {
  std::unique_ptr<QSettings> store = OpenStore(file_);
  if (store->status() != QSettings::NoError)
    throw std::runtime_error("Cannot read the settings from " + store->fileName().toStdString() +
                             ": " + StatusText(store->status()));
  store->beginGroup(kSection);
  const QVariant value = store->value(QString::fromStdString(key));
  store->endGroup();
  if (!value.isValid()) return fallback;
  const std::string text = value.toString().toStdString();
  return text.empty() ? fallback : text;
}

}  // namespace app
