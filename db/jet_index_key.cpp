#include "db/jet_index_key.h"

#include <array>
#include <cstdio>

#include "db/error.h"

namespace db {
namespace {

// A weight of one or two bytes: the high byte is written only when it is not zero (no weight of
// either collation has a zero first byte).
using Weight = std::uint16_t;

void PutWeight(Weight w, std::vector<unsigned char>& out) {
  if (w > 0xFF) out.push_back(static_cast<unsigned char>(w >> 8));
  out.push_back(static_cast<unsigned char>(w & 0xFF));
}

struct Pair {
  Weight legacy;
  Weight general;
  Weight in(TextCollation c) const { return c == TextCollation::kGeneral ? general : legacy; }
};

// Primary weights of the capital letters A..Z. Lower-case letters share them.
constexpr std::array<Pair, 26> kLetters = {{
    {0x4A, 0x0E02}, {0x4C, 0x0E09}, {0x4D, 0x0E0A}, {0x4F, 0x0E1A}, {0x51, 0x0E21},
    {0x53, 0x0E23}, {0x55, 0x0E25}, {0x57, 0x0E2C}, {0x59, 0x0E32}, {0x5B, 0x0E35},
    {0x5C, 0x0E36}, {0x5E, 0x0E48}, {0x60, 0x0E51}, {0x62, 0x0E70}, {0x64, 0x0E7C},
    {0x66, 0x0E7E}, {0x68, 0x0E89}, {0x69, 0x0E8A}, {0x6B, 0x0E91}, {0x6D, 0x0E99},
    {0x6F, 0x0E9F}, {0x71, 0x0EA2}, {0x73, 0x0EA4}, {0x75, 0x0EA6}, {0x76, 0x0EA7},
    {0x78, 0x0EA9},
}};

// Digits: the legacy weights step by two from 0x36; the newer ones run 0x0D17 for "0" and
// 0x0D19.. for "1".."9".
Pair DigitWeights(int d) {
  return {static_cast<Weight>(0x36 + 2 * d), static_cast<Weight>(d == 0 ? 0x0D17 : 0x0D18 + d)};
}

// Printable ASCII that is neither a letter nor a digit, in code order from the blank (0x20) to
// "~" (0x7E). A zero pair marks the two unprintable ones, the apostrophe and the hyphen, whose
// codes are kApostropheCode and kHyphenCode.
constexpr Pair kNone = {0, 0};
constexpr std::array<Pair, 33> kPunctuation = {{
    {0x07, 0x0702},   // blank
    {0x09, 0x071C},   // !
    {0x0A, 0x071D},   // "
    {0x0C, 0x071F},   // #
    {0x0E, 0x0721},   // $
    {0x10, 0x0723},   // %
    {0x12, 0x0725},   // &
    kNone,            // '
    {0x14, 0x0727},   // (
    {0x16, 0x072A},   // )
    {0x18, 0x072D},   // *
    {0x2C, 0x0803},   // +
    {0x1A, 0x072F},   // ,
    kNone,            // -
    {0x1C, 0x0733},   // .
    {0x1E, 0x0735},   // /
    {0x20, 0x0737},   // :
    {0x22, 0x073A},   // ;
    {0x2E, 0x080E},   // <
    {0x30, 0x0812},   // =
    {0x32, 0x0814},   // >
    {0x24, 0x073C},   // ?
    {0x26, 0x073E},   // @
    {0x27, 0x073F},   // [
    {0x29, 0x0741},   // backslash
    {0x2A, 0x0742},   // ]
    {0x2B02, 0x0743}, // ^
    {0x2B03, 0x0744}, // _
    {0x2B07, 0x0748}, // `
    {0x2B09, 0x074A}, // {
    {0x2B0B, 0x074C}, // |
    {0x2B0D, 0x074E}, // }
    {0x2B0F, 0x0750}, // ~
}};
// The punctuation table lists 0x20..0x2F, then 0x3A..0x40, 0x5B..0x60 and 0x7B..0x7E.
int PunctuationSlot(char32_t c) {
  if (c >= 0x20 && c <= 0x2F) return static_cast<int>(c - 0x20);
  if (c >= 0x3A && c <= 0x40) return static_cast<int>(c - 0x3A) + 16;
  if (c >= 0x5B && c <= 0x60) return static_cast<int>(c - 0x5B) + 23;
  if (c >= 0x7B && c <= 0x7E) return static_cast<int>(c - 0x7B) + 29;
  return -1;
}

constexpr unsigned char kApostropheCode = 0x80;
constexpr unsigned char kHyphenCode = 0x82;

// Accent codes of the extra run.
enum Accent : unsigned char {
  kNoAccent = 0,
  kOrdinal = 0x03,
  kAcute = 0x0E,
  kGrave = 0x0F,
  kCircumflex = 0x12,
  kDiaeresis = 0x13,
  kTilde = 0x19,
  kRing = 0x1A,
  kCedilla = 0x1C,
  kStroke = 0x21,
  kEth = 0x68,
};

// How one character collates: nothing (unknown), one weight, one weight plus an accent, two
// letters, or an unprintable code.
struct CharRule {
  enum Kind { kUnknown, kSimple, kAccented, kTwoLetters, kUnprintable } kind = kUnknown;
  Weight first = 0;
  Weight second = 0;           // kTwoLetters
  unsigned char code = 0;      // accent (kAccented) or unprintable code
};

Weight LetterWeight(char base, TextCollation c) { return kLetters[base - 'A'].in(c); }

CharRule Accented(char base, Accent accent, TextCollation c) {
  return {CharRule::kAccented, LetterWeight(base, c), 0, accent};
}
CharRule TwoLetters(char a, char b, TextCollation c) {
  return {CharRule::kTwoLetters, LetterWeight(a, c), LetterWeight(b, c), 0};
}

// The Latin-1 letters 0xC0..0xDE (capitals; the small letters 0xE0..0xFE fold onto them) as
// base letter and accent, read off their Unicode decompositions; 0 marks the three that are
// not one letter with one accent (AE, the multiplication sign at 0xD7, THORN).
struct Decomposed {
  char base;
  Accent accent;
};
constexpr std::array<Decomposed, 31> kLatin1Capitals = {{
    {'A', kGrave}, {'A', kAcute}, {'A', kCircumflex}, {'A', kTilde}, {'A', kDiaeresis},
    {'A', kRing},  {0, kNoAccent}, {'C', kCedilla},  {'E', kGrave},  {'E', kAcute},
    {'E', kCircumflex}, {'E', kDiaeresis}, {'I', kGrave}, {'I', kAcute}, {'I', kCircumflex},
    {'I', kDiaeresis}, {'D', kEth}, {'N', kTilde}, {'O', kGrave}, {'O', kAcute},
    {'O', kCircumflex}, {'O', kTilde}, {'O', kDiaeresis}, {0, kNoAccent}, {'O', kStroke},
    {'U', kGrave}, {'U', kAcute}, {'U', kCircumflex}, {'U', kDiaeresis}, {'Y', kAcute},
    {0, kNoAccent},
}};

CharRule RuleFor(char32_t c, TextCollation col) {
  if (c >= 'a' && c <= 'z') c -= 0x20;
  if (c >= 'A' && c <= 'Z') return {CharRule::kSimple, LetterWeight(static_cast<char>(c), col)};
  if (c >= '0' && c <= '9') return {CharRule::kSimple, DigitWeights(static_cast<int>(c - '0')).in(col)};
  if (c == '\'') return {CharRule::kUnprintable, 0, 0, kApostropheCode};
  if (c == '-') return {CharRule::kUnprintable, 0, 0, kHyphenCode};
  int slot = PunctuationSlot(c);
  if (slot >= 0) return {CharRule::kSimple, kPunctuation[slot].in(col)};

  switch (c) {
    case 0xAA: return Accented('A', kOrdinal, col);  // feminine ordinal
    case 0xBA: return Accented('O', kOrdinal, col);  // masculine ordinal
    case 0xD7: return {CharRule::kSimple, Pair{0x3309, 0x081C}.in(col)};  // multiplication
    case 0xF7: return {CharRule::kSimple, Pair{0x330A, 0x081D}.in(col)};  // division
    case 0xDF: return TwoLetters('S', 'S', col);                         // sharp s
    case 0xFF: return Accented('Y', kDiaeresis, col);                    // y diaeresis
    default: break;
  }
  if (c >= 0xE0 && c <= 0xFE) c -= 0x20;
  if (c >= 0xC0 && c <= 0xDE) {
    if (c == 0xC6) return TwoLetters('A', 'E', col);
    if (c == 0xDE) return TwoLetters('T', 'H', col);
    // The newer collation sorts U-diaeresis as the two letters UE.
    if (c == 0xDC && col == TextCollation::kGeneral) return TwoLetters('U', 'E', col);
    const Decomposed& d = kLatin1Capitals[c - 0xC0];
    if (d.base != 0) return Accented(d.base, d.accent, col);
  }
  return {};
}

// Decodes UTF-8; false on a malformed sequence.
bool DecodeUtf8(std::string_view s, std::u32string& out) {
  for (std::size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + extra >= s.size()) return false;
    char32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      unsigned char n = static_cast<unsigned char>(s[i + k]);
      if ((n & 0xC0) != 0x80) return false;
      c = (c << 6) | (n & 0x3F);
    }
    out.push_back(c);
    i += extra + 1;
  }
  return true;
}

std::string CharName(char32_t c) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

// The text as the key sees it: at most 255 characters, trailing blanks dropped.
std::u32string KeyText(std::string_view utf8) {
  std::u32string text;
  if (!DecodeUtf8(utf8, text))
    throw Error(errc::kNotSupported, "The text is not valid UTF-8 and cannot be indexed.");
  if (text.size() > 255) text.resize(255);
  while (!text.empty() && text.back() == U' ') text.pop_back();
  return text;
}

}  // namespace

std::optional<TextCollation> CollationFromSortOrder(std::uint16_t sortOrder, std::uint8_t version) {
  if (sortOrder == 0) return TextCollation::kGeneralLegacy;
  if (sortOrder != 1033) return std::nullopt;
  if (version == 0) return TextCollation::kGeneralLegacy;
  if (version == 1) return TextCollation::kGeneral;
  return std::nullopt;
}

bool CanEncodeIndexText(std::string_view utf8, TextCollation collation, std::string* why) {
  std::u32string text;
  if (!DecodeUtf8(utf8, text)) {
    if (why) *why = "the text is not valid UTF-8";
    return false;
  }
  for (char32_t c : text) {
    if (RuleFor(c, collation).kind == CharRule::kUnknown) {
      if (why) *why = "the character " + CharName(c) + " has no known index weight";
      return false;
    }
  }
  return true;
}

IndexKeyBuilder& IndexKeyBuilder::addNull(bool ascending) {
  bytes_.push_back(ascending ? 0x00 : 0xFF);
  return *this;
}

void IndexKeyBuilder::addNumber(std::uint64_t bits, int size, bool ascending) {
  bytes_.push_back(ascending ? 0x7F : 0x80);
  bits ^= std::uint64_t{1} << (8 * size - 1);
  for (int i = size - 1; i >= 0; --i) {
    unsigned char b = static_cast<unsigned char>(bits >> (8 * i));
    bytes_.push_back(ascending ? b : static_cast<unsigned char>(~b));
  }
}

IndexKeyBuilder& IndexKeyBuilder::addLong(std::int32_t value, bool ascending) {
  addNumber(static_cast<std::uint32_t>(value), 4, ascending);
  return *this;
}

IndexKeyBuilder& IndexKeyBuilder::addInteger(std::int16_t value, bool ascending) {
  addNumber(static_cast<std::uint16_t>(value), 2, ascending);
  return *this;
}

IndexKeyBuilder& IndexKeyBuilder::addText(std::string_view utf8, TextCollation collation,
                                          bool ascending) {
  std::u32string text = KeyText(utf8);
  bytes_.push_back(ascending ? 0x7F : 0x80);
  const std::size_t start = bytes_.size();

  std::vector<unsigned char> extra;        // the accent run, with placeholders
  std::size_t extraChars = 0;              // characters the accent run accounts for
  bool haveExtra = false;
  std::vector<unsigned char> unprintable;  // position/code groups
  std::size_t weighted = 0;                // characters that wrote a weight so far

  for (char32_t c : text) {
    CharRule rule = RuleFor(c, collation);
    switch (rule.kind) {
      case CharRule::kUnknown:
        throw Error(errc::kNotSupported, "The character " + CharName(c) +
                                             " cannot be stored in an index of this database.");
      case CharRule::kSimple:
        PutWeight(rule.first, bytes_);
        ++weighted;
        break;
      case CharRule::kTwoLetters:
        PutWeight(rule.first, bytes_);
        PutWeight(rule.second, bytes_);
        ++weighted;
        break;
      case CharRule::kAccented:
        PutWeight(rule.first, bytes_);
        // Placeholders for the earlier characters without an accent.
        extra.insert(extra.end(), weighted - extraChars, 0x02);
        extra.push_back(rule.code);
        extraChars = weighted + 1;
        haveExtra = true;
        ++weighted;
        break;
      case CharRule::kUnprintable: {
        std::size_t position = haveExtra ? extra.size() + (weighted - extraChars) : weighted;
        unsigned offset = (7 + 4 * static_cast<unsigned>(position)) | 0x8000;
        unprintable.push_back(static_cast<unsigned char>(offset >> 8));
        unprintable.push_back(static_cast<unsigned char>(offset & 0xFF));
        unprintable.push_back(0x06);
        unprintable.push_back(rule.code);
        break;
      }
    }
  }

  bytes_.push_back(0x01);
  while (!extra.empty() && extra.back() <= 0x02) extra.pop_back();
  bytes_.insert(bytes_.end(), extra.begin(), extra.end());
  if (!unprintable.empty()) {
    bytes_.insert(bytes_.end(), {0x01, 0x01, 0x01});
    bytes_.insert(bytes_.end(), unprintable.begin(), unprintable.end());
  }
  if (!ascending) {
    bytes_.push_back(0x00);
    for (std::size_t i = start; i < bytes_.size(); ++i) bytes_[i] = static_cast<unsigned char>(~bytes_[i]);
  }
  bytes_.push_back(0x00);
  return *this;
}

}  // namespace db
