// The byte codecs and the text form of db/access/format, which every reader, the writer and the
// checker use.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "db/access/format/bytes.h"
#include "db/access/format/text.h"

namespace {

using namespace db::access::format;

TEST(FormatCodecs, ReadKnownBytesLittleEndianAndBigEndian) {
  const Bytes b = {0x01, 0x82, 0x03, 0xF4, 0x05, 0x06, 0x07, 0x88};
  EXPECT_EQ(Get16(b.data()), 0x8201u);
  EXPECT_EQ(Get24(b.data()), 0x038201u);
  EXPECT_EQ(Get32(b.data()), 0xF4038201u);
  EXPECT_EQ(Get64(b.data()), 0x88070605F4038201ull);
  EXPECT_EQ(GetBigEndian(b.data(), 3), 0x018203u);
  EXPECT_EQ(GetBigEndian(b.data() + 1, 4), 0x8203F405u);
  const Bytes one = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F};  // 1.0
  EXPECT_EQ(GetDouble(one.data()), 1.0);
  EXPECT_EQ(DateBytes(1.0), one);
  EXPECT_EQ(LongBytes(-2), Bytes({0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(ShortBytes(0x1234), Bytes({0x34, 0x12}));
}

TEST(FormatCodecs, WritesReadBackAndTouchOnlyTheirBytes) {
  std::mt19937_64 random(20240607);
  for (int round = 0; round < 1000; ++round) {
    std::uint64_t v = random();
    Bytes b(12, 0xAA);
    Put16(&b[1], static_cast<std::uint32_t>(v));
    EXPECT_EQ(Get16(&b[1]), static_cast<std::uint16_t>(v));
    Put32(&b[3], static_cast<std::uint32_t>(v));
    EXPECT_EQ(Get32(&b[3]), static_cast<std::uint32_t>(v));
    EXPECT_EQ(Get24(&b[3]), static_cast<std::uint32_t>(v) & 0xFFFFFF);
    EXPECT_EQ(b[0], 0xAA);
    EXPECT_EQ(b[7], 0xAA);
    Bytes wide(12, 0xAA);
    Put64(&wide[2], v);
    EXPECT_EQ(Get64(&wide[2]), v);
    EXPECT_EQ(wide[1], 0xAA);
    EXPECT_EQ(wide[10], 0xAA);
    Bytes appended;
    Append16(appended, static_cast<std::uint32_t>(v));
    Append32(appended, static_cast<std::uint32_t>(v >> 16));
    ASSERT_EQ(appended.size(), 6u);
    EXPECT_EQ(Get16(appended.data()), static_cast<std::uint16_t>(v));
    EXPECT_EQ(Get32(appended.data() + 2), static_cast<std::uint32_t>(v >> 16));
    RowRef ref{static_cast<std::uint32_t>(v) & 0xFFFFFF, static_cast<unsigned>(v >> 32) & 0xFF};
    EXPECT_EQ(RowRef::Unpack(ref.packed()), ref);
  }
}

TEST(FormatText, CompressesOnlyWhatFitsOneByteAndReadsBothForms) {
  struct Case {
    std::u16string text;
    bool compress;
    Bytes stored;
  } cases[] = {
      {u"Ab", true, {0xFF, 0xFE, 0x41, 0x62}},
      {u"Ab", false, {0x41, 0x00, 0x62, 0x00}},
      {u"\u00E9", true, {0xFF, 0xFE, 0xE9}},
      {u"A\u03A9", true, {0x41, 0x00, 0xA9, 0x03}},  // Ω does not fit: stored plainly
      {u"", true, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeText(c.text, c.compress), c.stored);
    EXPECT_EQ(DecodeText(c.stored), c.text);
  }
  // A zero byte in the compressed form switches to two bytes a character and back.
  EXPECT_EQ(DecodeText(Bytes{0xFF, 0xFE, 0x61, 0x00, 0xA9, 0x03, 0x00, 0x62}), u"a\u03A9b");
  EXPECT_EQ(DecodeText(Bytes{0x41, 0x00, 0x42}), u"A");  // a last odd byte is dropped
}

}  // namespace
