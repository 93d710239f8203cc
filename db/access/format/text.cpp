#include "db/access/format/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace db::access::format {
namespace {

constexpr std::uint16_t kWesternCodePage = 1252;
constexpr char16_t kReplacement = 0xFFFD;

// Code page 1252 from 0x80 to 0x9F (the rest is Latin-1); 0 where the code page has no
// character.
constexpr char16_t kWestern80[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t WesternChar(unsigned char b) {
  if (b < 0x80 || b >= 0xA0) return b;
  char16_t c = kWestern80[b - 0x80];
  return c == 0 ? kReplacement : c;
}

std::optional<unsigned char> WesternByte(char16_t c) {
  if (c != 0 && (c < 0x80 || (c >= 0xA0 && c <= 0xFF))) return static_cast<unsigned char>(c);
  for (unsigned i = 0; i < 32; ++i)
    if (kWestern80[i] != 0 && kWestern80[i] == c) return static_cast<unsigned char>(0x80 + i);
  return std::nullopt;
}

// Runs iconv over `in` from `from` to `to`; nothing when the conversion is unknown or a
// character cannot be converted.
std::optional<std::string> Iconv(const char* to, const char* from, const std::string& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  std::size_t done = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  bool ok = done != static_cast<std::size_t>(-1) && srcLeft == 0;
  // A conversion that needed to approximate a character reports it as irreversible.
  if (ok && done != 0) ok = false;
  if (ok && iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) ok = false;
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(out.size() - dstLeft);
  return out;
}

std::string CodePageName(std::uint16_t codePage) { return "CP" + std::to_string(codePage); }

}  // namespace

std::optional<Bytes> EncodeCodePageText(const std::u16string& text, std::uint16_t codePage) {
  Bytes out;
  if (codePage == kWesternCodePage) {
    out.reserve(text.size());
    for (char16_t c : text) {
      std::optional<unsigned char> b = WesternByte(c);
      if (!b) return std::nullopt;
      out.push_back(*b);
    }
    return out;
  }
  if (codePage == 0) return std::nullopt;
  std::string utf16(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  std::optional<std::string> bytes = Iconv(CodePageName(codePage).c_str(), "UTF-16LE", utf16);
  if (!bytes) return std::nullopt;
  out.assign(bytes->begin(), bytes->end());
  // A code page that gives a character the byte of another one does not hold the text.
  if (DecodeCodePageText(out.data(), out.size(), codePage) != text) return std::nullopt;
  return out;
}

std::u16string DecodeCodePageText(const unsigned char* bytes, std::size_t size,
                                  std::uint16_t codePage) {
  std::u16string text;
  if (codePage != kWesternCodePage) {
    std::optional<std::string> utf16 =
        codePage == 0 ? std::nullopt
                      : Iconv("UTF-16LE", CodePageName(codePage).c_str(),
                              std::string(reinterpret_cast<const char*>(bytes), size));
    if (utf16) {
      for (std::size_t i = 0; i + 1 < utf16->size(); i += 2)
        text.push_back(static_cast<char16_t>(
            Get16(reinterpret_cast<const unsigned char*>(utf16->data()) + i)));
      return text;
    }
  }
  // Code page 1252, and the fallback for text another code page cannot read.
  text.reserve(size);
  for (std::size_t i = 0; i < size; ++i) text.push_back(WesternChar(bytes[i]));
  return text;
}

Bytes EncodeText(const std::u16string& text, bool compress) {
  Bytes out;
  bool fits = compress && !text.empty() &&
              std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 1 && c <= 0xFF; });
  if (fits) {
    out.assign(std::begin(kCompressedTextMark), std::end(kCompressedTextMark));
    for (char16_t c : text) out.push_back(static_cast<unsigned char>(c));
    return out;
  }
  for (char16_t c : text) Append16(out, c);
  return out;
}

Bytes EncodeLongText(const std::u16string& text, bool compress) {
  return EncodeText(text, compress && text.size() <= kMaxCompressedLongText);
}

std::u16string DecodeText(const unsigned char* bytes, std::size_t size) {
  std::u16string text;
  text.reserve(size);
  if (size >= 2 && bytes[0] == kCompressedTextMark[0] && bytes[1] == kCompressedTextMark[1]) {
    bool narrow = true;
    for (std::size_t i = 2; i < size;) {
      if (bytes[i] == 0) {
        narrow = !narrow;
        ++i;
      } else if (narrow) {
        text.push_back(bytes[i++]);
      } else {
        if (i + 1 >= size) break;
        text.push_back(static_cast<char16_t>(Get16(bytes + i)));
        i += 2;
      }
    }
    return text;
  }
  for (std::size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(Get16(bytes + i)));
  return text;
}

}  // namespace db::access::format
