// The extraction criteria on any user characters and any field value (valid UTF-8 or not),
// against their definitions written the plain way: the value and the user characters decoded
// and case-folded one character at a time, then searched position by position. The matcher's
// fast paths (ASCII search, folding that reaches ASCII from beyond it) must agree with it.
//
// Input: one byte choosing the criterion, then the user characters, a NUL byte, the value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "extract/criteria.h"
#include "extract/utf8_fold.h"
#include "fuzz/fuzz_support.h"

namespace {

using extract::Criterion;

std::u32string Folded(std::string_view text) {
  return std::u32string(extract::utf8::FoldedText(text).view());
}

// Whether `needle` occurs in `hay` at a position p with the room the criterion asks for.
enum class Where { kAnywhere, kWithTextAfter, kWithTextBefore };
bool Occurs(const std::u32string& hay, const std::u32string& needle, Where where) {
  const std::size_t n = hay.size(), m = needle.size();
  for (std::size_t p = 0; p + m <= n; ++p) {
    if (hay.compare(p, m, needle) != 0) continue;
    if (where == Where::kWithTextAfter && p + m >= n) continue;
    if (where == Where::kWithTextBefore && p == 0) continue;
    return true;
  }
  return false;
}

bool AllIn(std::string_view value, std::string_view set) {
  return value.find_first_not_of(set) == std::string_view::npos;
}

// The criterion's definition. Every second entry is the complement of the one before it.
bool Expected(Criterion c, std::string_view chars, std::string_view value) {
  const std::size_t index = extract::CriterionIndex(c);
  const bool negated = index % 2 == 1;
  const auto positive = static_cast<Criterion>(index - (negated ? 1 : 0));
  bool meets = false;
  switch (positive) {
    case Criterion::kContainsUserChars:
      meets = Occurs(Folded(value), Folded(chars), Where::kAnywhere);
      break;
    case Criterion::kContainsTextAfter:
      meets = Occurs(Folded(value), Folded(chars), Where::kWithTextAfter);
      break;
    case Criterion::kContainsTextBefore:
      meets = Occurs(Folded(value), Folded(chars), Where::kWithTextBefore);
      break;
    case Criterion::kContainsSpace:
      meets = value.find(' ') != std::string_view::npos;
      break;
    case Criterion::kContainsEnter:
      meets = value.find('\n') != std::string_view::npos;
      break;
    case Criterion::kContainsTab:
      meets = value.find('\t') != std::string_view::npos;
      break;
    // The sets are ASCII and every byte of another character is 0x80 or above, so bytes stand
    // for characters here.
    case Criterion::kContainsAlphabet:
      meets = AllIn(value, extract::kLetters);
      break;
    case Criterion::kContainsNumeric:
      meets = AllIn(value, extract::kDigits);
      break;
    case Criterion::kContainsAlphanumeric:
      meets = AllIn(value, extract::kAlphanumerics);
      break;
    case Criterion::kContainsNonAlphanumeric:
      meets = value.find_first_of(extract::kAlphanumerics) == std::string_view::npos;
      break;
    default:
      fuzz::Violation("no definition for criterion " + std::to_string(index + 1));
  }
  return meets != negated;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto criterion = static_cast<Criterion>(data[0] % extract::kCriterionCount);
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t nul = rest.find('\0');
  const std::string_view chars = rest.substr(0, nul);
  const std::string_view value = nul == std::string_view::npos ? "" : rest.substr(nul + 1);

  const bool expected = Expected(criterion, chars, value);
  const extract::Matcher matcher(criterion, chars);
  if (matcher.matches(value) != expected ||
      extract::CriterionMatches(value, extract::CriterionText(criterion), chars) != expected)
    fuzz::Violation("criterion " + std::to_string(extract::CriterionIndex(criterion) + 1) +
                    " with the characters \"" + std::string(chars) + "\" on the value \"" +
                    std::string(value) + "\": the definition says " +
                    (expected ? "it matches" : "it does not match"));
  return 0;
}
