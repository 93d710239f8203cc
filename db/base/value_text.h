// The text form of a value under a given locale. Value::toText() uses the user's locale;
// tests pass a fixed one.
#pragma once

#include <QLocale>
#include <string>
#include <string_view>

#include "db/base/value.h"

namespace db {

std::string ValueToText(const Value& value, const QLocale& locale);

// The pieces, for callers and tests that need one of them alone.
std::string DoubleToText(double v, const QLocale& locale);
std::string CurrencyToText(std::int64_t tenThousandths, const QLocale& locale);
std::string DateTimeToText(double oleDate, const QLocale& locale);

// Appends `text` with backslash, line feed, carriage return and tab written as \\, \n, \r and
// \t, so that it takes one line: the command line's --escape, and the text format of
// PostgreSQL's COPY.
void AppendBackslashEscaped(std::string& out, std::string_view text);

}  // namespace db
