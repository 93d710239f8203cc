// The one rule for names that differ only in letter case.
#include <gtest/gtest.h>

#include <QString>

#include "db/base/names.h"

TEST(SameName, LetterCaseAloneIsIgnored) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } kCases[] = {
      {"Orders", "ORDERS", true},   {"Ünïcødé_表", "üNÏCØDÉ_表", true},
      {"Straße", "STRASSE", false}, {"Orders", "Orders ", false},
      {"t😀", "T😀", true},           {"", "", true},
      {"Σίσυφος", "ΣΊΣΥΦΟΣ", true}, {"a`b", "A`B", true},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(db::SameName(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(db::SameName(QString::fromUtf8(c.a).toStdU16String(),
                           QString::fromUtf8(c.b).toStdU16String()),
              c.same)
        << c.a << " / " << c.b;
  }
  EXPECT_TRUE(db::StartsWithIgnoringCase("msysObjects", "MSys"));
  EXPECT_FALSE(db::StartsWithIgnoringCase("MSy", "MSys"));
}
