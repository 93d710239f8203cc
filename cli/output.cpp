#include "cli/output.h"

#include "db/base/value_text.h"
#include "extract/utf8_fold.h"

namespace cli {
namespace {

// Each writer builds one value's text in a reused buffer, then hands it to the stream whole.
class LinesWriter : public ValueWriter {
 public:
  LinesWriter(std::ostream& out, bool escape) : out_(out), escape_(escape) {}
  void begin(std::string_view) override {}
  void value(std::string_view text) override {
    if (!escape_) {
      out_.write(text.data(), static_cast<std::streamsize>(text.size()));
      out_.put('\n');
      return;
    }
    buffer_.clear();
    AppendEscapedLine(buffer_, text);
    buffer_ += '\n';
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  }
  void null() override { out_.put('\n'); }
  void end() override {}

 private:
  std::ostream& out_;
  bool escape_;
  std::string buffer_;
};

class CsvWriter : public ValueWriter {
 public:
  CsvWriter(std::ostream& out, bool header) : out_(out), header_(header) {}
  void begin(std::string_view column) override {
    if (header_) value(column);
  }
  void value(std::string_view text) override {
    buffer_.clear();
    AppendCsvField(buffer_, text);
    buffer_ += "\r\n";
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  }
  void null() override { out_.write("\r\n", 2); }
  void end() override {}

 private:
  std::ostream& out_;
  bool header_;
  std::string buffer_;
};

class JsonWriter : public ValueWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}
  void begin(std::string_view) override { out_.put('['); }
  void value(std::string_view text) override {
    buffer_.assign(first_ ? "\n  " : ",\n  ");
    AppendJsonString(buffer_, text);
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    first_ = false;
  }
  void null() override {
    out_ << (first_ ? "\n  null" : ",\n  null");
    first_ = false;
  }
  void end() override { out_ << (first_ ? "]\n" : "\n]\n"); }

 private:
  std::ostream& out_;
  std::string buffer_;
  bool first_ = true;
};

void AppendHex4(std::string& out, unsigned value) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

}  // namespace

std::unique_ptr<ValueWriter> MakeWriter(const WriterOptions& options, std::ostream& out) {
  switch (options.format) {
    case Format::kCsv:
      return std::make_unique<CsvWriter>(out, options.header);
    case Format::kJson:
      return std::make_unique<JsonWriter>(out);
    case Format::kLines:
      break;
  }
  return std::make_unique<LinesWriter>(out, options.escape);
}

void AppendEscapedLine(std::string& out, std::string_view text) {
  db::AppendBackslashEscaped(out, text);
}

void AppendCsvField(std::string& out, std::string_view text) {
  const bool quote = text.empty() || text.find_first_of("\",\r\n") != std::string_view::npos;
  if (!quote) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  std::size_t pos = 0;
  while (pos < text.size()) {
    const unsigned char byte = static_cast<unsigned char>(text[pos]);
    if (byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\') {
      out += static_cast<char>(byte);
      ++pos;
      continue;
    }
    switch (byte) {
      case '"':
        out += "\\\"";
        ++pos;
        continue;
      case '\\':
        out += "\\\\";
        ++pos;
        continue;
      case '\n':
        out += "\\n";
        ++pos;
        continue;
      case '\r':
        out += "\\r";
        ++pos;
        continue;
      case '\t':
        out += "\\t";
        ++pos;
        continue;
      case '\b':
        out += "\\b";
        ++pos;
        continue;
      case '\f':
        out += "\\f";
        ++pos;
        continue;
      default:
        break;
    }
    if (byte < 0x20) {
      AppendHex4(out, byte);
      ++pos;
      continue;
    }
    const extract::utf8::Decoded d = extract::utf8::DecodeAt(text, pos);
    if (d.codePoint >= extract::utf8::kRawByteBase &&
        d.codePoint <= extract::utf8::kRawByteBase + 0xFF && d.length == 1) {
      out += "\\ufffd";  // a byte that is not UTF-8
    } else if (d.codePoint == 0x2028 || d.codePoint == 0x2029) {
      AppendHex4(out, d.codePoint);
    } else {
      out.append(text.substr(pos, d.length));
    }
    pos += d.length;
  }
  out += '"';
}

}  // namespace cli
