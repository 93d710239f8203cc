#include "extract/criteria.h"

#include <cstring>

#include "extract/utf8_fold.h"

namespace extract {
namespace {

// ---- lookup of an entry text ----------------------------------------------------------------

// The entries by text length: no length is shared by more than two entries, so a lookup is one
// table read and at most two comparisons.
struct LengthSlot {
  std::int8_t first = -1;
  std::int8_t second = -1;
};
constexpr std::size_t kMaxTextLength = 64;

constexpr std::array<LengthSlot, kMaxTextLength> BuildLengthSlots() {
  std::array<LengthSlot, kMaxTextLength> slots{};
  for (std::size_t i = 0; i < kCriterionCount; ++i) {
    LengthSlot& s = slots[kCriterionTexts[i].size()];
    (s.first < 0 ? s.first : s.second) = static_cast<std::int8_t>(i);
  }
  return slots;
}

constexpr bool AtMostTwoPerLength() {
  std::array<int, kMaxTextLength> count{};
  for (std::string_view t : kCriterionTexts) {
    if (t.size() >= kMaxTextLength || ++count[t.size()] > 2) return false;
  }
  return true;
}
static_assert(AtMostTwoPerLength(), "entry texts must fit the length lookup");

constexpr std::array<LengthSlot, kMaxTextLength> kByLength = BuildLengthSlots();

// ---- class tests: one byte table ------------------------------------------------------------
// The sets are ASCII, and every byte of a non-ASCII character (or a stray byte) is 0x80 or
// above, so testing bytes gives the same answer as testing characters.

constexpr std::uint8_t kLetterBit = 1;
constexpr std::uint8_t kDigitBit = 2;
constexpr std::uint8_t kAlnumBits = kLetterBit | kDigitBit;

constexpr std::array<std::uint8_t, 256> BuildClassTable() {
  std::array<std::uint8_t, 256> t{};
  for (char c : kLetters) t[static_cast<unsigned char>(c)] |= kLetterBit;
  for (char c : kDigits) t[static_cast<unsigned char>(c)] |= kDigitBit;
  return t;
}
constexpr std::array<std::uint8_t, 256> kClassOf = BuildClassTable();

bool EveryByteIn(std::string_view value, std::uint8_t bits) {
  for (char c : value)
    if (!(kClassOf[static_cast<unsigned char>(c)] & bits)) return false;
  return true;
}

bool NoByteIn(std::string_view value, std::uint8_t bits) {
  for (char c : value)
    if (kClassOf[static_cast<unsigned char>(c)] & bits) return false;
  return true;
}

bool HasByte(std::string_view value, char c) {
  return !value.empty() && std::memchr(value.data(), c, value.size()) != nullptr;
}

// ---- ASCII caseless search ------------------------------------------------------------------

constexpr std::array<unsigned char, 256> BuildLowerTable() {
  std::array<unsigned char, 256> t{};
  for (int i = 0; i < 256; ++i)
    t[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i + 32 : i);
  return t;
}
constexpr std::array<unsigned char, 256> kLower = BuildLowerTable();

// Whether `lowerNeedle` (ASCII, lower case, not empty) occurs in `hay`, ignoring ASCII case.
bool ContainsAsciiNoCase(std::string_view hay, std::string_view lowerNeedle) {
  const std::size_t m = lowerNeedle.size();
  if (hay.size() < m) return false;
  const auto* h = reinterpret_cast<const unsigned char*>(hay.data());
  const auto* nd = reinterpret_cast<const unsigned char*>(lowerNeedle.data());
  const unsigned char first = nd[0];
  const unsigned char firstUpper = (first >= 'a' && first <= 'z') ? first - 32 : first;
  const std::size_t last = hay.size() - m;
  for (std::size_t i = 0; i <= last; ++i) {
    if (h[i] != first && h[i] != firstUpper) continue;
    std::size_t k = 1;
    while (k < m && kLower[h[i + k]] == nd[k]) ++k;
    if (k == m) return true;
  }
  return false;
}

}  // namespace

// ---- catalogue ------------------------------------------------------------------------------

std::optional<Criterion> CriterionFromText(std::string_view text) {
  if (text.size() >= kMaxTextLength) return std::nullopt;
  const LengthSlot& s = kByLength[text.size()];
  if (s.first >= 0 && kCriterionTexts[s.first] == text) return static_cast<Criterion>(s.first);
  if (s.second >= 0 && kCriterionTexts[s.second] == text) return static_cast<Criterion>(s.second);
  return std::nullopt;
}

bool AsksForCharacters(Criterion c) {
  switch (c) {
    case Criterion::kContainsUserChars:
    case Criterion::kNotContainsUserChars:
    case Criterion::kContainsTextAfter:
    case Criterion::kNotContainsTextAfter:
    case Criterion::kContainsTextBefore:
    case Criterion::kNotContainsTextBefore:
      return true;
    default:
      return false;
  }
}

bool DependsOnlyOnBlanks(Criterion c) {
  switch (c) {
    case Criterion::kContainsSpace:
    case Criterion::kNotContainsSpace:
    case Criterion::kContainsEnter:
    case Criterion::kNotContainsEnter:
    case Criterion::kContainsTab:
    case Criterion::kNotContainsTab:
      return true;
    default:
      return false;
  }
}

bool AsksForCharacters(std::string_view criterionText) {
  const std::optional<Criterion> c = CriterionFromText(criterionText);
  return c && AsksForCharacters(*c);
}

// ---- character filter -----------------------------------------------------------------------

std::string_view TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string FilterChars(std::string_view text, std::string_view set, bool keep) {
  std::string out;
  if (text.empty()) return out;
  out.reserve(text.size());
  if (!utf8::HasNonAscii(set)) {
    // Only ASCII characters can be members, and they are single bytes: filter byte by byte.
    std::array<bool, 256> member{};
    for (char c : set) member[static_cast<unsigned char>(c)] = true;
    for (char c : text)
      if (member[static_cast<unsigned char>(c)] == keep) out.push_back(c);
    return out;
  }
  std::vector<char32_t> members;
  for (std::size_t pos = 0; pos < set.size();) {
    const utf8::Decoded d = utf8::DecodeAt(set, pos);
    members.push_back(d.codePoint);
    pos += d.length;
  }
  for (std::size_t pos = 0; pos < text.size();) {
    const utf8::Decoded d = utf8::DecodeAt(text, pos);
    bool isMember = false;
    for (char32_t m : members) {
      if (m == d.codePoint) {
        isMember = true;
        break;
      }
    }
    if (isMember == keep) out.append(text.substr(pos, d.length));
    pos += d.length;
  }
  return out;
}

// ---- matcher --------------------------------------------------------------------------------

Matcher::Matcher(std::optional<Criterion> criterion, std::string_view userChars)
    : criterion_(criterion) {
  const utf8::FoldedText folded(userChars);
  needle_.assign(folded.view().begin(), folded.view().end());
  for (char32_t c : needle_) {
    if (c >= 0x80) {
      needleIsAscii_ = false;
      break;
    }
  }
  // A non-ASCII character may fold to ASCII (the Kelvin sign to "k"), so this looks at the
  // folded text, not at the bytes typed.
  if (needleIsAscii_) {
    asciiNeedle_.reserve(needle_.size());
    for (char32_t c : needle_) asciiNeedle_.push_back(static_cast<char>(c));
  }
  // The byte masks of the search: which needle positions a byte matches, ignoring ASCII case,
  // and whether it may begin a non-ASCII character that folds to ASCII.
  if (needleIsAscii_ && asciiNeedle_.size() <= kMaxShiftAndNeedle) {
    for (std::size_t j = 0; j < asciiNeedle_.size(); ++j) {
      const auto c = static_cast<unsigned char>(asciiNeedle_[j]);
      masks_[c] |= std::uint64_t{1} << j;
      if (c >= 'a' && c <= 'z') masks_[c - 32] |= std::uint64_t{1} << j;
    }
  }
  for (int b = 0x80; b < 0x100; ++b)
    if (utf8::MayBeginCharFoldingToAscii(static_cast<unsigned char>(b))) masks_[b] |= kFoldLeadBit;
}

Matcher Matcher::ForText(std::string_view criterionText, std::string_view userChars) {
  return Matcher(CriterionFromText(criterionText), userChars);
}

bool Matcher::matches(std::string_view value) const {
  return criterion_ && matches(*criterion_, value);
}

bool Matcher::occurs(std::string_view value, Where where) const {
  // Occurrences with text after them lie in the value without its last character; those with
  // text before them in the value without its first one. An empty value has neither.
  if (where != Where::kAnywhere && value.empty()) return false;

  if (needleIsAscii_) {
    if (asciiNeedle_.empty()) return true;
    // Byte windows are exact here: an ASCII match starts and ends on character boundaries, so
    // a byte left before or after it is part of at least one whole character.
    const std::size_t begin = where == Where::kWithTextBefore ? 1 : 0;
    const std::size_t end = value.size() - (where == Where::kWithTextAfter ? 1 : 0);
    bool mayFoldToAscii = true;
    if (asciiNeedle_.size() <= kMaxShiftAndNeedle) {
      // Shift-and: bit j of `state` says the needle's first j+1 characters end at this byte.
      const auto* h = reinterpret_cast<const unsigned char*>(value.data());
      std::uint64_t state = 0, ends = 0, seen = 0;
      for (std::size_t i = begin; i < end; ++i) {
        const std::uint64_t mask = masks_[h[i]];
        state = ((state << 1) | 1) & mask;
        ends |= state;
        seen |= mask;
      }
      if (ends & (std::uint64_t{1} << (asciiNeedle_.size() - 1))) return true;
      mayFoldToAscii = (seen & kFoldLeadBit) != 0;
    } else if (ContainsAsciiNoCase(value.substr(begin, end - begin), asciiNeedle_)) {
      return true;
    }
    // Without a byte match, only a non-ASCII character that folds to ASCII could still give one.
    if (!mayFoldToAscii || !utf8::HasCharFoldingToAscii(value)) return false;
  } else if (!utf8::HasNonAscii(value)) {
    return false;  // an ASCII value folds to ASCII and cannot hold a non-ASCII character
  }

  const utf8::FoldedText folded(value);
  std::u32string_view hay = folded.view();
  if (where == Where::kWithTextAfter) hay.remove_suffix(1);
  if (where == Where::kWithTextBefore) hay.remove_prefix(1);
  return hay.find(std::u32string_view(needle_.data(), needle_.size())) != std::u32string_view::npos;
}

bool Matcher::matches(Criterion c, std::string_view value) const {
  // Pairs share one test: the even entry (0-based) is the "Contains" one, the odd its complement.
  const auto index = CriterionIndex(c);
  const bool negate = (index & 1) != 0;
  bool found = false;
  switch (static_cast<Criterion>(index & ~std::size_t{1})) {
    case Criterion::kContainsUserChars:
      found = occurs(value, Where::kAnywhere);
      break;
    case Criterion::kContainsSpace:
      found = HasByte(value, ' ');
      break;
    case Criterion::kContainsEnter:
      found = HasByte(value, '\n');
      break;
    case Criterion::kContainsTab:
      found = HasByte(value, '\t');
      break;
    case Criterion::kContainsAlphabet:
      found = EveryByteIn(value, kLetterBit);
      break;
    case Criterion::kContainsNumeric:
      found = EveryByteIn(value, kDigitBit);
      break;
    case Criterion::kContainsAlphanumeric:
      found = EveryByteIn(value, kAlnumBits);
      break;
    case Criterion::kContainsNonAlphanumeric:
      found = NoByteIn(value, kAlnumBits);
      break;
    case Criterion::kContainsTextAfter:
      found = occurs(value, Where::kWithTextAfter);
      break;
    case Criterion::kContainsTextBefore:
      found = occurs(value, Where::kWithTextBefore);
      break;
    default:
      return false;
  }
  return found != negate;
}

bool CriterionMatches(std::string_view value, std::string_view criterionText,
                      std::string_view userChars) {
  const std::optional<Criterion> c = CriterionFromText(criterionText);
  if (!c) return false;
  if (!AsksForCharacters(*c)) {
    static const Matcher withoutCharacters(std::nullopt, {});
    return withoutCharacters.matches(*c, value);
  }
  // A run passes the same user characters for every value: keep the last matcher per thread.
  thread_local std::string lastChars;
  thread_local std::optional<Matcher> last;
  if (!last || lastChars != userChars) {
    last.emplace(std::nullopt, userChars);
    lastChars.assign(userChars);
  }
  return last->matches(*c, value);
}

}  // namespace extract
