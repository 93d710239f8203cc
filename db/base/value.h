// One field value as the database layer hands it out: a type and its data, with the one text
// conversion the program uses everywhere (the user's locale, in the manner of a desktop
// database tool's default conversion of a value to text).
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace db {

class Value {
 public:
  enum class Type {
    Null,
    Text,      // UTF-8 text (also memo, GUID as "{...}")
    Integer,   // byte, integer, long integer, big integer
    Double,    // single and double precision
    Decimal,   // exact decimal, kept as its canonical digits, e.g. "-12.5"
    Currency,  // fixed point: ten-thousandths of a unit
    DateTime,  // OLE Automation date: days since 1899-12-30, fraction is the time of day
    Boolean,
    Binary,  // raw bytes
  };

  Value() = default;  // Null
  static Value Null() { return Value(); }
  static Value Text(std::string utf8) { return Value(Type::Text, std::move(utf8)); }
  static Value Integer(std::int64_t v) { return Value(Type::Integer, v); }
  static Value Double(double v) { return Value(Type::Double, v); }
  static Value Decimal(std::string digits) { return Value(Type::Decimal, std::move(digits)); }
  static Value Currency(std::int64_t tenThousandths) {
    return Value(Type::Currency, tenThousandths);
  }
  static Value DateTime(double oleDate) { return Value(Type::DateTime, oleDate); }
  static Value Boolean(bool v) { return Value(Type::Boolean, std::int64_t{v ? 1 : 0}); }
  static Value Binary(std::string bytes) { return Value(Type::Binary, std::move(bytes)); }

  Type type() const { return type_; }
  bool isNull() const { return type_ == Type::Null; }

  // Raw data by kind. text(): Text, Decimal and Binary. integer(): Integer, Currency, Boolean.
  // real(): Double and DateTime.
  const std::string& text() const { return std::get<std::string>(data_); }
  std::int64_t integer() const { return std::get<std::int64_t>(data_); }
  double real() const { return std::get<double>(data_); }

  // The value as text in the user's locale: numbers with the locale's decimal separator and
  // no grouping, currency with four decimals at most and no symbol, dates in the short date
  // format (plus the time when it is not midnight; a time alone when the date is 1899-12-30),
  // yes/no as "True"/"False", binary as its bytes. Null gives the empty text.
  std::string toText() const;

  bool operator==(const Value& o) const { return type_ == o.type_ && data_ == o.data_; }

 private:
  Value(Type t, std::string s) : type_(t), data_(std::move(s)) {}
  Value(Type t, std::int64_t i) : type_(t), data_(i) {}
  Value(Type t, double d) : type_(t), data_(d) {}

  Type type_ = Type::Null;
  std::variant<std::monostate, std::string, std::int64_t, double> data_;
};

}  // namespace db
