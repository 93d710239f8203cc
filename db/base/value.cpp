#include "db/base/value.h"

#include <QDate>
#include <QTime>

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "db/base/value_text.h"

namespace db {
namespace {

std::string DecimalSeparator(const QLocale& locale) { return locale.decimalPoint().toStdString(); }

// Replaces the '.' of a plain number text with the locale's decimal separator.
std::string WithSeparator(std::string text, const QLocale& locale) {
  if (auto dot = text.find('.'); dot != std::string::npos)
    text.replace(dot, 1, DecimalSeparator(locale));
  return text;
}

// A date or time format with its unquoted runs of `letter` passed through `edit`, which gets the
// run's length and returns the replacement. Quoted literals ('...') are left alone.
template <typename Edit>
QString EditFormatRuns(const QString& format, QChar letter, Edit edit) {
  QString out;
  bool quoted = false;
  for (qsizetype i = 0; i < format.size();) {
    QChar c = format[i];
    if (c == u'\'') {
      quoted = !quoted;
      out += c;
      ++i;
      continue;
    }
    if (!quoted && c == letter) {
      qsizetype run = 0;
      while (i + run < format.size() && format[i + run] == letter) ++run;
      out += edit(run);
      i += run;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

// The locale's short date, with a two-digit year widened to four digits: a stored date must
// not become ambiguous in its text form.
QString ShortDateFormat(const QLocale& locale) {
  return EditFormatRuns(locale.dateFormat(QLocale::ShortFormat), u'y',
                        [](qsizetype run) { return QString(run == 2 ? 4 : run, u'y'); });
}

// The locale's long time, without the time zone (a stored time has none).
QString LongTimeFormat(const QLocale& locale) {
  QString format = EditFormatRuns(locale.timeFormat(QLocale::LongFormat), u't',
                                  [](qsizetype) { return QString(); });
  return format.trimmed();
}

constexpr double kFirstOleDate = -657434.0;  // 0100-01-01
constexpr double kEndOleDate = 2958466.0;    // 10000-01-01

}  // namespace

std::string DoubleToText(double v, const QLocale& locale) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  if (v == 0) return "0";

  // Shortest digits that read back as the same double, as d.ddde±x.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string sci(buf, res.ptr);
  bool negative = sci[0] == '-';
  if (negative) sci.erase(0, 1);
  std::size_t e = sci.find('e');
  int exponent = std::atoi(sci.c_str() + e + 1);
  std::string digits;
  for (std::size_t i = 0; i < e; ++i)
    if (sci[i] != '.') digits += sci[i];

  std::string text;
  if (exponent >= -5 && exponent < 15) {
    if (exponent < 0) {
      text = "0." + std::string(-exponent - 1, '0') + digits;
    } else if (static_cast<std::size_t>(exponent) + 1 >= digits.size()) {
      text = digits + std::string(exponent + 1 - digits.size(), '0');
    } else {
      text = digits.substr(0, exponent + 1) + "." + digits.substr(exponent + 1);
    }
  } else {
    text = digits.substr(0, 1);
    if (digits.size() > 1) text += "." + digits.substr(1);
    std::string expText = std::to_string(std::abs(exponent));
    if (expText.size() < 2) expText.insert(0, "0");
    text += (exponent < 0 ? "E-" : "E+") + expText;
  }
  return (negative ? "-" : "") + WithSeparator(text, locale);
}

std::string CurrencyToText(std::int64_t tenThousandths, const QLocale& locale) {
  bool negative = tenThousandths < 0;
  // Through unsigned arithmetic, so that the most negative amount has a magnitude too.
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(tenThousandths)
                                     : static_cast<std::uint64_t>(tenThousandths);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / 10000);
  std::string fraction = std::to_string(magnitude % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) text += DecimalSeparator(locale) + fraction;
  return text;
}

std::string DateTimeToText(double oleDate, const QLocale& locale) {
  if (!std::isfinite(oleDate) || oleDate < kFirstOleDate || oleDate >= kEndOleDate)
    return DoubleToText(oleDate, locale);

  // The whole part counts days from 1899-12-30 (also below zero); the magnitude of the
  // fraction is the time of day.
  double whole = std::trunc(oleDate);
  auto days = static_cast<long long>(whole);
  auto seconds = static_cast<long long>(std::llround(std::fabs(oleDate - whole) * 86400.0));
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }

  QString time =
      locale.toString(QTime(0, 0).addSecs(static_cast<int>(seconds)), LongTimeFormat(locale));
  if (days == 0) return time.toStdString();
  QString text = locale.toString(QDate(1899, 12, 30).addDays(days), ShortDateFormat(locale));
  if (seconds != 0) text += u' ' + time;
  return text.toStdString();
}

std::string ValueToText(const Value& value, const QLocale& locale) {
  switch (value.type()) {
    case Value::Type::Null:
      return {};
    case Value::Type::Text:
    case Value::Type::Binary:
      return value.text();
    case Value::Type::Integer:
      return std::to_string(value.integer());
    case Value::Type::Double:
      return DoubleToText(value.real(), locale);
    case Value::Type::Decimal:
      return WithSeparator(value.text(), locale);
    case Value::Type::Currency:
      return CurrencyToText(value.integer(), locale);
    case Value::Type::DateTime:
      return DateTimeToText(value.real(), locale);
    case Value::Type::Boolean:
      return value.integer() != 0 ? "True" : "False";
  }
  return {};
}

std::string Value::toText() const {
  if (type_ == Type::Text) return text();  // the common case needs no locale
  return ValueToText(*this, QLocale::system());
}

void AppendBackslashEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
}

}  // namespace db
