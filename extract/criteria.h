// Extraction criteria: the twenty entries of the criteria list and the test each applies to the
// text of one field value.
//
// A criterion is picked by its exact entry text (case-sensitive). Texts are UTF-8; the tests work
// on characters (code points), not bytes. Two kinds of test:
//
// * Substring tests (entries 1-8 and 17-20) look for a text in the value ignoring letter case.
//   Case is ignored by Unicode simple case folding, one character at a time and independent of
//   the locale ("é" occurs in "CAFÉ", "straße" in "STRAẞE"); spellings that differ other than
//   by case (a precomposed "é" against "e" + combining accent, "ß" against "ss") stay different,
//   and the Turkish dotted capital I folds to nothing but itself.
//   The user characters are sought as one unit: "ab" occurs in "xaby" but not in "a-b".
//
// * Class tests (entries 9-16) use the three ASCII sets below with exact membership: an accented
//   or other non-ASCII letter is not a letter, a non-ASCII digit is not a digit. The "Contains"
//   entries of this group mean "consists only of" (Non-Alphanumeric: "holds no letter and no
//   digit"), so the empty value meets every "Contains" entry of the group.
//
// Entries 17-20 use the user characters like entry 1 (n is the value's length in characters, m
// the user characters' length, an occurrence is a position p where they are found):
//   17 "Contains Text After ...":  some occurrence has at least one character after it
//                                  (p + m < n); the same as: they occur in the value without its
//                                  last character. "ab" in "xaby" and "aba", not in "xab".
//   19 "Contains Text Before ...": some occurrence has at least one character before it (p > 0);
//                                  the same as: they occur in the value without its first
//                                  character. "ab" in "xab" and "abab", not in "aby".
//   18 and 20 are the complements of 17 and 19: they also match values where the user characters
//   do not occur at all.
//
// Every "Does not contain" entry is the exact complement of the entry before it. A text equal to
// none of the twenty matches no value. Empty user characters occur in every value (at every
// position); the windows never pass them, since a blank answer ends the run first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace extract {

// The criteria in list order; the underlying value is the 0-based position in the list.
enum class Criterion : std::uint8_t {
  kContainsUserChars,           //  1 the user characters occur
  kNotContainsUserChars,        //  2
  kContainsSpace,               //  3 a space (32) occurs
  kNotContainsSpace,            //  4
  kContainsEnter,               //  5 a line feed (10) occurs; a carriage return alone does not
  kNotContainsEnter,            //  6
  kContainsTab,                 //  7 a tab (9) occurs
  kNotContainsTab,              //  8
  kContainsAlphabet,            //  9 every character is an ASCII letter
  kNotContainsAlphabet,         // 10
  kContainsNumeric,             // 11 every character is an ASCII digit
  kNotContainsNumeric,          // 12
  kContainsAlphanumeric,        // 13 every character is an ASCII letter or digit
  kNotContainsAlphanumeric,     // 14
  kContainsNonAlphanumeric,     // 15 no character is an ASCII letter or digit
  kNotContainsNonAlphanumeric,  // 16
  kContainsTextAfter,           // 17 see the top of this file
  kNotContainsTextAfter,        // 18
  kContainsTextBefore,          // 19
  kNotContainsTextBefore,       // 20
};

inline constexpr std::size_t kCriterionCount = 20;

// The entry texts in list order, for filling the criteria list; the first is the default.
inline constexpr std::array<std::string_view, kCriterionCount> kCriterionTexts = {
    "Contains user-defined character(s)",
    "Does not contain user-defined character(s)",
    "Contains Space(s)",
    "Does not contain Space(s)",
    "Contains Enter(s) (Carriage Returns)",
    "Does not contain Enter(s) (Carriage Returns)",
    "Contains Tab(s)",
    "Does not contain Tab(s)",
    "Contains Alphabet Character(s)",
    "Does not contain Alphabet Character(s)",
    "Contains Numeric Character(s)",
    "Does not contain Numeric Character(s)",
    "Contains Alphanumeric Character(s)",
    "Does not contain Alphanumeric Character(s)",
    "Contains Non-Alphanumeric Character(s)",
    "Does not contain Non-Alphanumeric Character(s)",
    "Contains Text After User-Defined Character(s)",
    "Does not contain Text After User-Defined Character(s)",
    "Contains Text Before User-Defined Character(s)",
    "Does not contain Text Before User-Defined Character(s)",
};

// The character sets of the class tests.
inline constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
inline constexpr std::string_view kDigits = "0123456789";
inline constexpr std::string_view kAlphanumerics =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

constexpr std::size_t CriterionIndex(Criterion c) { return static_cast<std::size_t>(c); }
constexpr std::string_view CriterionText(Criterion c) { return kCriterionTexts[CriterionIndex(c)]; }

// The criterion whose entry text equals `text` exactly, or nothing. Cheap enough to call for
// every value tested (a length lookup and at most two comparisons).
std::optional<Criterion> CriterionFromText(std::string_view text);

// True for the criteria that use the user characters (entries 1, 2 and 17-20), which the run
// asks for before it starts. False for any other text.
bool AsksForCharacters(Criterion c);
bool AsksForCharacters(std::string_view criterionText);

// Whether the answer of `c` depends only on the spaces, line feeds and tabs a text holds, so
// that texts that differ only in letter case get the same answer under any case folding (none
// makes or removes those characters). The others can part texts that a full case folding joins:
// the Kelvin sign is no ASCII letter, though it folds to "k".
bool DependsOnlyOnBlanks(Criterion c);

// `text` without leading and trailing spaces (only the space character, code 32). User
// characters, and a new table's name, that leave nothing here are blank.
std::string_view TrimSpaces(std::string_view text);

// The characters of `text`, in order, that are members of `set` (keep true) or that are not
// (keep false). Membership is exact character equality; a byte that is not part of valid UTF-8
// counts as a character of its own and is kept or dropped whole.
std::string FilterChars(std::string_view text, std::string_view set, bool keep);

// The tests of one run: built once from the user characters (folded once here), then asked
// about any number of values. Immutable after construction, so one Matcher may be shared by
// threads.
class Matcher {
 public:
  // A matcher for `criterion`; with no criterion it matches nothing.
  Matcher(std::optional<Criterion> criterion, std::string_view userChars);
  // A matcher for the entry text `criterionText` (one that is none of the twenty matches nothing).
  static Matcher ForText(std::string_view criterionText, std::string_view userChars);

  // Whether `value` meets the matcher's criterion.
  bool matches(std::string_view value) const;
  // Whether `value` meets `c`, using this matcher's user characters. For callers that look the
  // criterion up again for every value.
  bool matches(Criterion c, std::string_view value) const;

 private:
  enum class Where { kAnywhere, kWithTextAfter, kWithTextBefore };
  bool occurs(std::string_view value, Where where) const;

  static constexpr std::size_t kMaxShiftAndNeedle = 63;
  static constexpr std::uint64_t kFoldLeadBit = std::uint64_t{1} << 63;

  std::optional<Criterion> criterion_;
  std::array<std::uint64_t, 256> masks_{};  // per byte, for the search of an ASCII needle
  bool needleIsAscii_ = true;
  std::string asciiNeedle_;       // folded user characters when all are ASCII
  std::vector<char32_t> needle_;  // folded user characters, one code point each
};

// Whether `value` meets the criterion named by `criterionText`, with the user characters
// `userChars` for the criteria that use them. False for a text that names no criterion. The
// matcher of the last user characters is kept (per thread), so a loop that passes the same
// ones for every value folds them once.
bool CriterionMatches(std::string_view value, std::string_view criterionText,
                      std::string_view userChars);

}  // namespace extract
