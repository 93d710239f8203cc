#include "extract/utf8_fold.h"

#include <QChar>

#include <cstdint>
#include <cstring>

namespace extract::utf8 {
namespace {

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Folding of the code points below 0x800 (Latin, Greek, Cyrillic, Armenian, Hebrew, Arabic...),
// read from Qt's tables once, so the common accented text needs no call per character.
constexpr char32_t kTableSize = 0x800;

const std::array<char32_t, kTableSize>& SmallFoldTable() {
  static const std::array<char32_t, kTableSize> table = [] {
    std::array<char32_t, kTableSize> t{};
    for (char32_t c = 0; c < kTableSize; ++c) t[c] = QChar::toCaseFolded(c);
    return t;
  }();
  return table;
}

// The first UTF-8 bytes of the non-ASCII characters that fold to ASCII, found once in Qt's
// tables (in practice 0xC5 and 0xE2).
const std::array<bool, 256>& LeadsOfAsciiFolding() {
  static const std::array<bool, 256> leads = [] {
    std::array<bool, 256> t{};
    for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      if (QChar::toCaseFolded(c) >= 0x80) continue;
      const unsigned lead = c < 0x800     ? 0xC0 | (c >> 6)
                            : c < 0x10000 ? 0xE0 | (c >> 12)
                                          : 0xF0 | (c >> 18);
      t[lead] = true;
    }
    return t;
  }();
  return leads;
}

}  // namespace

Decoded DecodeAt(std::string_view text, std::size_t pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  const std::size_t left = text.size() - pos;
  const unsigned char b0 = p[0];
  const Decoded raw{kRawByteBase + b0, 1};
  if (b0 < 0x80) return {b0, 1};
  if (b0 < 0xC2) return raw;  // continuation byte, or lead of an overlong 2-byte form
  if (b0 < 0xE0) {
    if (left < 2 || !IsContinuation(p[1])) return raw;
    return {(char32_t(b0 & 0x1F) << 6) | (p[1] & 0x3F), 2};
  }
  if (b0 < 0xF0) {
    if (left < 3 || !IsContinuation(p[1]) || !IsContinuation(p[2])) return raw;
    if (b0 == 0xE0 && p[1] < 0xA0) return raw;   // overlong
    if (b0 == 0xED && p[1] >= 0xA0) return raw;  // surrogate
    return {(char32_t(b0 & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F), 3};
  }
  if (b0 < 0xF5) {
    if (left < 4 || !IsContinuation(p[1]) || !IsContinuation(p[2]) || !IsContinuation(p[3]))
      return raw;
    if (b0 == 0xF0 && p[1] < 0x90) return raw;   // overlong
    if (b0 == 0xF4 && p[1] >= 0x90) return raw;  // above U+10FFFF
    return {(char32_t(b0 & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
                (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F),
            4};
  }
  return raw;
}

bool HasNonAscii(std::string_view text) {
  const char* p = text.data();
  std::size_t n = text.size();
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  while (n >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if (word & kHighBits) return true;
    p += 8;
    n -= 8;
  }
  for (; n > 0; --n, ++p)
    if (static_cast<unsigned char>(*p) >= 0x80) return true;
  return false;
}

bool HasCharFoldingToAscii(std::string_view text) {
  const std::array<bool, 256>& leads = LeadsOfAsciiFolding();
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (!leads[static_cast<unsigned char>(text[pos])]) continue;
    const Decoded d = DecodeAt(text, pos);
    if (d.codePoint >= 0x80 && FoldCase(d.codePoint) < 0x80) return true;
  }
  return false;
}

bool MayBeginCharFoldingToAscii(unsigned char lead) { return LeadsOfAsciiFolding()[lead]; }

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
  if (c < kTableSize) return SmallFoldTable()[c];
  if (c >= kRawByteBase && c <= kRawByteBase + 0xFF) return c;
  return QChar::toCaseFolded(c);
}

FoldedText::FoldedText(std::string_view text) {
  // A text never has more characters than bytes.
  char32_t* out = inline_.data();
  if (text.size() > kInline) {
    heap_.resize(text.size());
    out = heap_.data();
  }
  data_ = out;
  for (std::size_t pos = 0; pos < text.size();) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {
      out[size_++] = (b >= 'A' && b <= 'Z') ? b + ('a' - 'A') : b;
      ++pos;
      continue;
    }
    const Decoded d = DecodeAt(text, pos);
    out[size_++] = FoldCase(d.codePoint);
    pos += d.length;
  }
}

}  // namespace extract::utf8
