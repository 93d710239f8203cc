#include "db/access/format/values.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace db::access::format {
namespace {

constexpr std::int64_t kDaysFromYearOneToOleEpoch = 693593;  // 0001-01-01 .. 1899-12-30

// Parses `count` ASCII digits; nothing when any of them is not a digit.
std::optional<std::int64_t> Digits(const unsigned char* p, std::size_t count) {
  std::int64_t value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (p[i] < '0' || p[i] > '9') return std::nullopt;
    value = value * 10 + (p[i] - '0');
  }
  return value;
}

}  // namespace

std::uint64_t JetUnsigned(const unsigned char* p, std::size_t size) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < size; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

std::int64_t JetSigned(const unsigned char* p, std::size_t size) {
  std::uint64_t v = JetUnsigned(p, size);
  if (size < 8 && (v >> (8 * size - 1)) & 1) v |= ~std::uint64_t{0} << (8 * size);
  return static_cast<std::int64_t>(v);
}

double JetDouble(const unsigned char* p) {
  std::uint64_t bits = JetUnsigned(p, 8);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

float JetSingle(const unsigned char* p) {
  auto bits = static_cast<std::uint32_t>(JetUnsigned(p, 4));
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

double SingleAsDouble(float value) {
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  double d = value;
  std::from_chars(buf, res.ptr, d);  // NaN and infinities keep the widened value
  return d;
}

std::string JetDecimalDigits(const unsigned char* bytes17, int scale) {
  // Words from the least significant one up.
  std::array<std::uint32_t, 4> words{};
  for (int w = 0; w < 4; ++w)
    words[w] = static_cast<std::uint32_t>(JetUnsigned(bytes17 + 1 + 4 * (3 - w), 4));

  std::string digits;  // least significant first
  auto isZero = [&] { return words[0] == 0 && words[1] == 0 && words[2] == 0 && words[3] == 0; };
  while (!isZero()) {
    std::uint64_t rest = 0;
    for (int w = 3; w >= 0; --w) {
      std::uint64_t cur = (rest << 32) | words[w];
      words[w] = static_cast<std::uint32_t>(cur / 10);
      rest = cur % 10;
    }
    digits.push_back(static_cast<char>('0' + rest));
  }
  if (scale < 0) scale = 0;
  while (digits.size() <= static_cast<std::size_t>(scale)) digits.push_back('0');

  std::string whole(digits.rbegin(), digits.rend() - scale);
  std::string fraction(digits.rend() - scale, digits.rend());
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  std::string text = fraction.empty() ? whole : whole + "." + fraction;
  bool negative = (bytes17[0] & 0x80) != 0;
  return negative && text != "0" ? "-" + text : text;
}

std::string JetGuidText(const unsigned char* b) {
  char buf[40];
  std::snprintf(buf, sizeof buf,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return buf;
}

std::optional<double> JetExtendedDate(const unsigned char* bytes, std::size_t size) {
  if (size < 39) return std::nullopt;
  auto days = Digits(bytes, 19);
  auto seconds = Digits(bytes + 20, 12);
  auto ticks = Digits(bytes + 32, 7);  // hundreds of nanoseconds
  if (!days || !seconds || !ticks || *seconds >= 86400) return std::nullopt;
  std::int64_t oleDays = *days - kDaysFromYearOneToOleEpoch;
  double time = (static_cast<double>(*seconds) + static_cast<double>(*ticks) / 1e7) / 86400.0;
  // An OLE date before the epoch keeps its time of day as a positive fraction below the day.
  return oleDays >= 0 ? static_cast<double>(oleDays) + time : static_cast<double>(oleDays) - time;
}

}  // namespace db::access::format
