#include "extract/criteria.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace extract {
namespace {

// The entry numbers (1-20, as in the list) that match `value`.
std::set<int> MatchingEntries(const std::string& value, const std::string& userChars) {
  std::set<int> out;
  for (std::size_t i = 0; i < kCriterionCount; ++i)
    if (CriterionMatches(value, kCriterionTexts[i], userChars)) out.insert(int(i) + 1);
  return out;
}

std::set<int> Only(std::set<int> all, int from, int to) {
  std::set<int> out;
  for (int e : all)
    if (e >= from && e <= to) out.insert(e);
  return out;
}

TEST(CriteriaCatalogue, TextsLookUpTheirOwnEntryAndNearMissesNone) {
  ASSERT_EQ(kCriterionTexts.size(), 20u);
  EXPECT_EQ(kCriterionTexts.front(), "Contains user-defined character(s)");
  EXPECT_EQ(kCriterionTexts.back(), "Does not contain Text Before User-Defined Character(s)");
  for (std::size_t i = 0; i < kCriterionCount; ++i) {
    const std::string text(kCriterionTexts[i]);
    ASSERT_EQ(CriterionFromText(text), static_cast<Criterion>(i)) << text;
    EXPECT_EQ(CriterionText(static_cast<Criterion>(i)), text);
    EXPECT_FALSE(CriterionFromText(text + " ")) << text;
    EXPECT_FALSE(CriterionFromText(text.substr(0, text.size() - 1))) << text;
    std::string otherCase = text;
    otherCase[0] = char(otherCase[0] ^ 0x20);
    EXPECT_FALSE(CriterionFromText(otherCase)) << text;
  }
  EXPECT_FALSE(CriterionFromText(""));
  EXPECT_FALSE(CriterionFromText(std::string(200, 'x')));
}

TEST(CriteriaCatalogue, OnlyTheUserDefinedEntriesAskForCharacters) {
  for (std::size_t i = 0; i < kCriterionCount; ++i) {
    const bool expected = i <= 1 || i >= 16;
    EXPECT_EQ(AsksForCharacters(kCriterionTexts[i]), expected) << kCriterionTexts[i];
  }
  EXPECT_FALSE(AsksForCharacters("contains user-defined character(s)"));
  EXPECT_FALSE(AsksForCharacters(""));
}

TEST(CriteriaTests, EdgeValuesMeetExactlyTheExpectedEntries) {
  struct Case {
    std::string value, userChars;
    std::set<int> entries1to16;
  };
  const std::vector<Case> cases = {
      {"", "x", {2, 4, 6, 8, 9, 11, 13, 15}},           {"ABC", "b", {1, 4, 6, 8, 9, 12, 13, 16}},
      {"a-b", "ab", {2, 4, 6, 8, 10, 12, 14, 16}},      {"xaby", "ab", {1, 4, 6, 8, 9, 12, 13, 16}},
      {"O'BRIEN", "o'b", {1, 4, 6, 8, 10, 12, 14, 16}}, {"a b", "x", {2, 3, 6, 8, 10, 12, 14, 16}},
      {"a\r\nb", "x", {2, 4, 5, 8, 10, 12, 14, 16}},    {"a\rb", "x", {2, 4, 6, 8, 10, 12, 14, 16}},
      {"a\tb", "x", {2, 4, 6, 7, 10, 12, 14, 16}},      {"12.5", "x", {2, 4, 6, 8, 10, 12, 14, 16}},
      {"125", "x", {2, 4, 6, 8, 10, 11, 13, 16}},       {"é", "x", {2, 4, 6, 8, 10, 12, 14, 15}},
      {"!!", "x", {2, 4, 6, 8, 10, 12, 14, 15}},        {"a!", "x", {2, 4, 6, 8, 10, 12, 14, 16}},
      {"٣", "x", {2, 4, 6, 8, 10, 12, 14, 15}},  // an Arabic-Indic digit is not a digit
      {"Zürich", "x", {2, 4, 6, 8, 10, 12, 14, 16}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Only(MatchingEntries(c.value, c.userChars), 1, 16), c.entries1to16)
        << "value \"" << c.value << "\", user characters \"" << c.userChars << "\"";
  }
}

TEST(CriteriaTests, TextAfterAndBeforeUserCharacters) {
  struct Case {
    std::string value, userChars;
    bool after, before;  // entries 17 and 19
  };
  const std::vector<Case> cases = {
      {"", "a", false, false},
      {"ab", "ab", false, false},  // the whole value: nothing around it
      {"xab", "ab", false, true},
      {"aby", "ab", true, false},
      {"xaby", "AB", true, true},
      {"abab", "ab", true, true},   // the first occurrence has text after, the second before
      {"aaa", "aa", true, true},    // overlapping occurrences count
      {"a-b", "ab", false, false},  // no occurrence at all
      {"Name: Smith", ":", true, true},
      {"http://", "://", false, true},
      {"né", "É", false, true},  // case ignored beyond ASCII, positions in characters
      {"éa", "a", false, true},  // one two-byte character before
      {"aé", "a", true, false},  // one two-byte character after
      {"éÉ", "é", true, true},
      {"\xe2\x84\xaax", "k", true, false},  // KELVIN SIGN, then x
      {"x\xe2\x84\xaa", "K", false, true},
      {"Ł\xe2\x84\xaa", "k", false, true},
  };
  for (const Case& c : cases) {
    const std::set<int> m = Only(MatchingEntries(c.value, c.userChars), 17, 20);
    EXPECT_EQ(m.count(17) == 1, c.after) << c.value << " / " << c.userChars;
    EXPECT_EQ(m.count(19) == 1, c.before) << c.value << " / " << c.userChars;
  }
}

TEST(CriteriaTests, EveryPairIsComplementaryAndTheMatcherAgrees) {
  const std::vector<std::string> values = {"",
                                           " ",
                                           "a",
                                           "ABC",
                                           "a-b",
                                           "a b",
                                           "a\r\nb",
                                           "\r",
                                           "\t",
                                           "12.5",
                                           "125",
                                           "é",
                                           "É",
                                           "!!",
                                           "a!",
                                           "O'Brien",
                                           "Straße",
                                           "İstanbul",
                                           "\xff",
                                           "a\xc3",
                                           std::string(100, 'x') + "é",
                                           std::string("a\0b", 3)};
  const std::vector<std::string> userChars = {"a", "B", "é", "ss", "x\xff", "\xe2\x84\xaa", "-"};
  for (const std::string& chars : userChars) {
    for (std::size_t i = 0; i < kCriterionCount; i += 2) {
      const Matcher contains(static_cast<Criterion>(i), chars);
      const Matcher doesNot = Matcher::ForText(kCriterionTexts[i + 1], chars);
      for (const std::string& v : values) {
        const bool yes = CriterionMatches(v, kCriterionTexts[i], chars);
        EXPECT_NE(yes, CriterionMatches(v, kCriterionTexts[i + 1], chars))
            << kCriterionTexts[i] << " / \"" << v << "\" / \"" << chars << "\"";
        EXPECT_EQ(contains.matches(v), yes);
        EXPECT_EQ(doesNot.matches(v), !yes);
        EXPECT_EQ(contains.matches(static_cast<Criterion>(i + 1), v), !yes);
      }
    }
  }
}

TEST(CriteriaTests, ClassTestsAgreeWithTheCharacterFilter) {
  const std::vector<std::string> values = {"",  "abc", "ab1",  "a b", "125", "1.5",
                                           "é", "ée",  "\xff", "!?",  "Aé1", "ZZ9"};
  struct Rule {
    Criterion criterion;
    std::string_view set;
    bool keep;
  };
  const Rule rules[] = {{Criterion::kContainsAlphabet, kLetters, false},
                        {Criterion::kContainsNumeric, kDigits, false},
                        {Criterion::kContainsAlphanumeric, kAlphanumerics, false},
                        {Criterion::kContainsNonAlphanumeric, kAlphanumerics, true}};
  const Matcher any(std::nullopt, "");
  for (const Rule& r : rules)
    for (const std::string& v : values)
      EXPECT_EQ(any.matches(r.criterion, v), FilterChars(v, r.set, r.keep).empty())
          << CriterionText(r.criterion) << " / " << v;
}

TEST(CriteriaTests, SubstringTestsIgnoreCaseBeyondAscii) {
  const Matcher contains(Criterion::kContainsUserChars, "");
  struct Case {
    std::string value, userChars;
    bool found;
  };
  const std::vector<Case> cases = {
      {"É", "é", true},
      {"école", "ÉC", true},
      {"STRAẞE", "straße", true},
      {"Москва", "МОСК", true},
      {"ΣΟΦΙΑ", "σοφ", true},
      {"Kelvin", "\xe2\x84\xaa", true},  // KELVIN SIGN folds to "k"
      {"5 \xe2\x84\xaa", "k", true},
      {"e", "é", false},  // accents are not case
      {"é", "e", false},
      {"Strasse", "ß", false},
      {"café au lait", "AU L", true},
      {"a\xff"
       "b",
       "\xff"
       "B",
       true},  // a stray byte matches the same stray byte
      {"a\xfe"
       "b",
       "\xff", false},
      {std::string(80, 'z') + "Ä", "zä", true},  // past the short-text buffer
      {std::string(80, 'z') + "Ä", "aä", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CriterionMatches(c.value, kCriterionTexts[0], c.userChars), c.found)
        << c.value << " / " << c.userChars;
  // Needles around the length where the search changes method.
  for (std::size_t length : {62, 63, 64, 70}) {
    const std::string needle = std::string(length - 1, 'q') + "k";
    const std::string upper = std::string(length - 1, 'Q') + "K";
    const std::string kelvin = std::string(length - 1, 'q') + "\xe2\x84\xaa";
    for (const std::string& value : {upper, "x" + upper + "y", kelvin, "x" + kelvin + "y"}) {
      const bool padded = value[0] == 'x';
      EXPECT_TRUE(Matcher(Criterion::kContainsUserChars, needle).matches(value)) << length;
      EXPECT_EQ(Matcher(Criterion::kContainsTextAfter, needle).matches(value), padded) << length;
      EXPECT_EQ(Matcher(Criterion::kContainsTextBefore, needle).matches(value), padded) << length;
    }
    EXPECT_FALSE(Matcher(Criterion::kContainsUserChars, needle).matches(needle.substr(1)));
  }
  EXPECT_TRUE(contains.matches("anything"));  // empty user characters occur everywhere
  EXPECT_FALSE(Matcher(Criterion::kContainsTextAfter, "").matches(""));
  EXPECT_TRUE(Matcher(Criterion::kContainsTextAfter, "").matches("x"));
}

TEST(CriteriaTests, UnknownCriterionMatchesNothing) {
  for (const char* text : {"", "Contains space(s)", "Contains Space(s) ", "anything"}) {
    for (const char* v : {"", "a b", "abc", "é"}) {
      EXPECT_FALSE(CriterionMatches(v, text, "a")) << text;
      EXPECT_FALSE(Matcher::ForText(text, "a").matches(v)) << text;
    }
  }
}

TEST(FilterCharsTest, KeepsOrDropsWholeCharacters) {
  EXPECT_EQ(FilterChars("", kLetters, true), "");
  EXPECT_EQ(FilterChars("", kLetters, false), "");
  EXPECT_EQ(FilterChars("a1-b2", kDigits, true), "12");
  EXPECT_EQ(FilterChars("a1-b2", kDigits, false), "a-b");
  EXPECT_EQ(FilterChars("Zürich 8001", kAlphanumerics, true), "Zrich8001");
  EXPECT_EQ(FilterChars("Zürich 8001", kAlphanumerics, false), "ü ");
  EXPECT_EQ(FilterChars("aAbB", "ab", true), "ab");  // membership is case-sensitive
  // A set with non-ASCII characters: exact code point equality, no folding.
  EXPECT_EQ(FilterChars("éEeÉé€", "é€", true), "éé€");
  EXPECT_EQ(FilterChars("éEeÉé€", "é€", false), "EeÉ");
  // "é" (C3 A9) and "©" (C2 A9) share a byte but are different characters.
  EXPECT_EQ(FilterChars("©é", "é", true), "é");
  // Stray bytes are characters of their own, kept or dropped whole.
  EXPECT_EQ(FilterChars("a\xff"
                        "b\xc3",
                        "\xff"
                        "é",
                        false),
            "ab\xc3");
  EXPECT_EQ(FilterChars("a\xff"
                        "b",
                        kLetters, false),
            "\xff");
}

}  // namespace
}  // namespace extract
