// The output formats of rowsifter-cli: one value a line, CSV (RFC 4180) or a JSON array of
// strings. A writer streams: each value goes out as it comes, nothing is kept.
//
//   lines  the value's bytes and a line feed. A value that holds a line break therefore spans
//          several lines; with `escape` a backslash, line feed, carriage return and tab are
//          written as \\, \n, \r and \t, so every value is exactly one line.
//   csv    one column; a field holding a double quote, comma, carriage return or line feed is
//          enclosed in double quotes with inner quotes doubled; records end with CR LF. With
//          `header` the first record is the column name. A Null (preview only) is an empty
//          unquoted field, an empty text is "".
//   json   an array of strings, one element a line. Quote, backslash and control characters
//          are escaped (U+2028 and U+2029 too, for JavaScript); other characters pass as UTF-8.
//          A byte that is not part of valid UTF-8 becomes U+FFFD, so the output is always valid
//          UTF-8. A Null (preview only) is null.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/args.h"

namespace cli {

class ValueWriter {
 public:
  virtual ~ValueWriter() = default;
  // Before the first value; `column` names the values (the CSV header, when asked for).
  virtual void begin(std::string_view column) = 0;
  virtual void value(std::string_view text) = 0;
  virtual void null() = 0;
  // After the last value.
  virtual void end() = 0;
};

struct WriterOptions {
  Format format = Format::kLines;
  bool escape = false;
  bool header = false;
};

std::unique_ptr<ValueWriter> MakeWriter(const WriterOptions& options, std::ostream& out);

// The pieces, for tests and for messages.
void AppendEscapedLine(std::string& out, std::string_view text);
void AppendCsvField(std::string& out, std::string_view text);
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace cli
