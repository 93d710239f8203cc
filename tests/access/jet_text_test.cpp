// Text as Jet 4 and ACE store it, decoded by our own code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/access/read/database.h"

namespace {

std::string Decode(const std::vector<unsigned char>& bytes) {
  return db::access::read::DecodeJet4Text(bytes.data(), bytes.size());
}

TEST(JetText, PlainAndCompressedFormsDecodeToTheSameCharacters) {
  // "Aé" plain, and compressed (FF FE, one byte a character).
  EXPECT_EQ(Decode({0x41, 0x00, 0xE9, 0x00}), "A\xC3\xA9");
  EXPECT_EQ(Decode({0xFF, 0xFE, 0x41, 0xE9}), "A\xC3\xA9");
  // A zero byte switches to two bytes a character and back: "a", "Ω" (U+03A9), "b".
  EXPECT_EQ(Decode({0xFF, 0xFE, 0x61, 0x00, 0xA9, 0x03, 0x00, 0x62}),
            "a\xCE\xA9"
            "b");
  EXPECT_EQ(Decode({}), "");
}

TEST(JetText, CharactersBeyondTheBasicPlaneStayWhole) {
  // U+1F600 as the surrogate pair D83D DE00, between two letters.
  EXPECT_EQ(Decode({0x78, 0x00, 0x3D, 0xD8, 0x00, 0xDE, 0x79, 0x00}), "x\xF0\x9F\x98\x80y");
  // A lone surrogate is no character: a question mark stands for it, the rest reads on.
  EXPECT_EQ(Decode({0x3D, 0xD8, 0x41, 0x00}), "?A");
  // A stray odd byte at the end is ignored, not read past.
  EXPECT_EQ(Decode({0x41, 0x00, 0x42}), "A");
}

}  // namespace
