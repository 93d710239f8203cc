#include "extract/utf8_fold.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace extract::utf8 {
namespace {

// The code points `text` decodes to, one per character.
std::u32string Decode(std::string_view text) {
  std::u32string out;
  for (std::size_t pos = 0; pos < text.size();) {
    const Decoded d = DecodeAt(text, pos);
    out.push_back(d.codePoint);
    pos += d.length;
  }
  return out;
}

constexpr char32_t Raw(unsigned char b) { return kRawByteBase + b; }

TEST(Utf8Decode, ValidSequencesOfEveryLength) {
  EXPECT_EQ(Decode("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"), U"a\u00e9\u20ac\U0001F600");
  EXPECT_EQ(Decode("\xf4\x8f\xbf\xbf"), U"\U0010FFFF");
  EXPECT_EQ(Decode(std::string("\0", 1)), std::u32string(1, U'\0'));
}

TEST(Utf8Decode, InvalidBytesStandForThemselvesOneByOne) {
  const struct {
    std::string bytes;
    std::u32string expected;
  } cases[] = {
      {"\xc0\xaf", {Raw(0xC0), Raw(0xAF)}},                                // overlong "/"
      {"\xe0\x80\xaf", {Raw(0xE0), Raw(0x80), Raw(0xAF)}},                 // overlong
      {"\xed\xa0\x80", {Raw(0xED), Raw(0xA0), Raw(0x80)}},                 // surrogate
      {"\xf4\x90\x80\x80", {Raw(0xF4), Raw(0x90), Raw(0x80), Raw(0x80)}},  // above U+10FFFF
      {"\xc3", {Raw(0xC3)}},                                               // cut off at the end
      {"\xe2\x82"
       "a",
       {Raw(0xE2), Raw(0x82), U'a'}},  // cut off before ASCII
      {"\xff\xfe", {Raw(0xFF), Raw(0xFE)}},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.bytes), c.expected);
}

TEST(Utf8Fold, FoldsCaseCharacterByCharacter) {
  const FoldedText folded(
      "AÉ\xe2\x84\xaaΣẞ\xff"
      "z");
  EXPECT_EQ(folded.view(), (std::u32string{U'a', U'é', U'k', U'σ', U'ß', Raw(0xFF), U'z'}));
  // Longer than the short-text buffer.
  const std::string longText = std::string(100, 'Q') + "Ä";
  const FoldedText longFolded(longText);
  EXPECT_EQ(longFolded.view(), std::u32string(100, U'q') + U"ä");
  EXPECT_TRUE(FoldedText("").view().empty());
}

TEST(Utf8Fold, FindsOnlyCharactersThatFoldToAscii) {
  EXPECT_TRUE(HasCharFoldingToAscii("x\xe2\x84\xaa"));  // KELVIN SIGN
  EXPECT_TRUE(HasCharFoldingToAscii("\xc5\xbf"));       // LATIN SMALL LETTER LONG S
  // Characters sharing those first bytes, and plain accented text, do not.
  EXPECT_FALSE(HasCharFoldingToAscii("Łódź \xe2\x82\xac \xe2\x80\x99"));
  EXPECT_FALSE(HasCharFoldingToAscii("Zürich"));
  EXPECT_FALSE(HasCharFoldingToAscii("\xc5"));  // a cut-off lead byte
}

}  // namespace
}  // namespace extract::utf8
