#include "db/base/names.h"

#include <QString>

namespace db {

bool SameName(std::string_view a, std::string_view b) {
  return QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()))
             .compare(QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())),
                      Qt::CaseInsensitive) == 0;
}

bool SameName(const std::u16string& a, const std::u16string& b) {
  return QString::fromStdU16String(a).compare(QString::fromStdU16String(b), Qt::CaseInsensitive) ==
         0;
}

bool StartsWithIgnoringCase(std::string_view name, std::string_view prefix) {
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))
      .startsWith(QLatin1String(prefix.data(), static_cast<qsizetype>(prefix.size())),
                  Qt::CaseInsensitive);
}

}  // namespace db
