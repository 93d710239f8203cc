#include "db/access/format/values.h"

#include <gtest/gtest.h>

#include <array>

namespace db {

using namespace db::access::format;
namespace {

// A stored decimal: sign byte, then the 128-bit magnitude as four little-endian 32-bit words,
// the most significant word first.
std::array<unsigned char, 17> Decimal(bool negative, std::uint32_t w3, std::uint32_t w2,
                                      std::uint32_t w1, std::uint32_t w0) {
  std::array<unsigned char, 17> b{};
  b[0] = negative ? 0x80 : 0x00;
  const std::uint32_t words[] = {w3, w2, w1, w0};
  for (int w = 0; w < 4; ++w)
    for (int i = 0; i < 4; ++i) b[1 + 4 * w + i] = static_cast<unsigned char>(words[w] >> (8 * i));
  return b;
}

TEST(JetValuesTest, DecimalDigitsAreCanonical) {
  EXPECT_EQ(JetDecimalDigits(Decimal(false, 0, 0, 0, 125).data(), 1), "12.5");
  EXPECT_EQ(JetDecimalDigits(Decimal(true, 0, 0, 0, 125).data(), 1), "-12.5");
  EXPECT_EQ(JetDecimalDigits(Decimal(false, 0, 0, 0, 1250).data(), 2), "12.5");
  EXPECT_EQ(JetDecimalDigits(Decimal(false, 0, 0, 0, 1200).data(), 2), "12");
  EXPECT_EQ(JetDecimalDigits(Decimal(false, 0, 0, 0, 5).data(), 3), "0.005");
  EXPECT_EQ(JetDecimalDigits(Decimal(false, 0, 0, 0, 0).data(), 4), "0");
  EXPECT_EQ(JetDecimalDigits(Decimal(true, 0, 0, 0, 0).data(), 0), "0");  // no "-0"
  EXPECT_EQ(JetDecimalDigits(Decimal(false, 0, 0, 0, 1234).data(), 0), "1234");
}

TEST(JetValuesTest, DecimalDigitsUseAllFourWordsInOrder) {
  EXPECT_EQ(JetDecimalDigits(Decimal(false, 0, 0, 1, 0).data(), 0), "4294967296");
  // 10^28 = 0x204FCE5E 3E250261 10000000
  EXPECT_EQ(JetDecimalDigits(Decimal(false, 0, 0x204FCE5E, 0x3E250261, 0x10000000).data(), 0),
            "10000000000000000000000000000");
  EXPECT_EQ(
      JetDecimalDigits(Decimal(true, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF).data(), 38),
      "-3.40282366920938463463374607431768211455");
}

TEST(JetValuesTest, IntegersAreLittleEndianAndSignExtended) {
  const unsigned char b[] = {0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80};
  EXPECT_EQ(JetSigned(b, 2), -2);
  EXPECT_EQ(JetSigned(b, 4), 0x7FFFFFFE);
  EXPECT_EQ(JetUnsigned(b, 2), 0xFFFEu);
  EXPECT_EQ(JetSigned(b, 8), static_cast<std::int64_t>(0x800000007FFFFFFEull));
}

TEST(JetValuesTest, SinglesReadAsTheirShortestDecimal) {
  EXPECT_EQ(SingleAsDouble(0.1f), 0.1);
  EXPECT_EQ(SingleAsDouble(444.555f), 444.555);
  EXPECT_EQ(SingleAsDouble(-3.0f), -3.0);
  EXPECT_EQ(SingleAsDouble(16777216.0f), 16777216.0);
}

TEST(JetValuesTest, GuidTextHasTheUsualGroups) {
  const unsigned char b[] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                             0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(JetGuidText(b), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
}

TEST(JetValuesTest, ExtendedDatesBecomeOleDates) {
  auto text = [](const char* s) { return reinterpret_cast<const unsigned char*>(s); };
  // 1981-12-12 is day 723525 after 0001-01-01 and OLE day 29932; 06:00:00 is 21600 seconds,
  // followed by 7 digits of ticks.
  const char* date = "0000000000000723525:0000000216000000000:7 ";
  EXPECT_EQ(JetExtendedDate(text(date), 42), 29932.25);
  const char* before = "0000000000000693592:0000000432000000000:7 ";  // 1899-12-29 12:00
  EXPECT_EQ(JetExtendedDate(text(before), 42), -1.5);
  EXPECT_EQ(JetExtendedDate(text("00000000000007235x5:0000000216000000000:7 "), 42), std::nullopt);
  EXPECT_EQ(JetExtendedDate(text(date), 20), std::nullopt);
}

}  // namespace
}  // namespace db
