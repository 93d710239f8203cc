// The output formats: what a reader of each format gets back must be the value as stored.
#include "cli/output.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/progress.h"

namespace {

using cli::Format;

std::string Write(Format format, const std::vector<std::optional<std::string>>& values,
                  bool escape = false, bool header = false) {
  std::ostringstream out;
  auto writer = cli::MakeWriter({format, escape, header}, out);
  writer->begin("Col,1");
  for (const auto& v : values) {
    if (v) {
      writer->value(*v);
    } else {
      writer->null();
    }
  }
  writer->end();
  return out.str();
}

std::string Json(std::string_view text) {
  std::string out;
  cli::AppendJsonString(out, text);
  return out;
}

TEST(OutputTest, CsvQuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(Write(Format::kCsv, {"plain", "a,b", "say \"hi\"", "two\nlines", "cr\rx", "",
                                 std::nullopt, " spaced ", "it's"}),
            "plain\r\n\"a,b\"\r\n\"say \"\"hi\"\"\"\r\n\"two\nlines\"\r\n\"cr\rx\"\r\n\"\"\r\n\r\n"
            " spaced \r\nit's\r\n");
  EXPECT_EQ(Write(Format::kCsv, {"v"}, false, true), "\"Col,1\"\r\nv\r\n");
  EXPECT_EQ(Write(Format::kCsv, {}), "");
}

TEST(OutputTest, JsonEscapesControlsAndKeepsUtf8Valid) {
  EXPECT_EQ(Json("a\"b\\c/"), R"("a\"b\\c/")");
  EXPECT_EQ(Json(std::string("\n\r\t\b\f\x01\x1f\x7f", 8)), R"("\n\r\t\b\f\u0001\u001f)"
                                                            "\x7f\"");
  EXPECT_EQ(Json(std::string("nul\0end", 7)), R"("nul\u0000end")");
  // Valid UTF-8 passes unchanged, from two to four bytes.
  EXPECT_EQ(Json("café ẞ 日本 😀"), "\"café ẞ 日本 😀\"");
  // Line and paragraph separators are escaped: JavaScript reads them as line ends.
  EXPECT_EQ(Json("a\u2028b\u2029"), R"("a\u2028b\u2029")");
  // Bytes that are not UTF-8 (a lone continuation byte, a cut-off sequence, an overlong form,
  // a Latin-1 byte) each become U+FFFD, and what follows them is kept.
  EXPECT_EQ(Json("\x80x"), R"("\ufffdx")");
  EXPECT_EQ(Json("ab\xe6\x97"), R"("ab\ufffd\ufffd")");
  EXPECT_EQ(Json("\xc0\xafz"), R"("\ufffd\ufffdz")");
  EXPECT_EQ(Json("caf\xe9!"), R"("caf\ufffd!")");
}

TEST(OutputTest, JsonIsOneArrayWithNullsInPlace) {
  EXPECT_EQ(Write(Format::kJson, {}), "[]\n");
  EXPECT_EQ(Write(Format::kJson, {"a", std::nullopt, "b\nc"}),
            "[\n  \"a\",\n  null,\n  \"b\\nc\"\n]\n");
}

TEST(OutputTest, LinesAreRawOrEscapedOnRequest) {
  EXPECT_EQ(Write(Format::kLines, {"a b", "x\ny", std::nullopt, ""}), "a b\nx\ny\n\n\n");
  EXPECT_EQ(Write(Format::kLines, {"x\ny", "tab\there", "c:\\n", "cr\r"}, true),
            "x\\ny\ntab\\there\nc:\\\\n\ncr\\r\n");
}

TEST(OutputTest, ProgressBarDrawsOnPercentChangesAndWipesItself) {
  std::ostringstream err;
  {
    cli::ProgressBar bar(err, true, "extract");
    bar.start(1000);
    for (int i = 0; i < 1000; ++i) bar.advance();
    const std::string drawn = err.str();
    EXPECT_NE(drawn.find("[------------------------------]   0%  0/1000"), std::string::npos);
    EXPECT_NE(drawn.find(" 50%  500/1000"), std::string::npos);
    EXPECT_NE(drawn.find("[##############################] 100%  1000/1000"), std::string::npos);
    std::size_t draws = 0;
    for (std::size_t p = drawn.find('%'); p != std::string::npos; p = drawn.find('%', p + 1))
      ++draws;
    EXPECT_EQ(draws, 101u) << "once per percentage, not once per row";
  }
  EXPECT_TRUE(err.str().ends_with("\r\x1b[K")) << "the destructor wipes the bar";

  std::ostringstream quiet;
  {
    cli::ProgressBar off(quiet, false, "extract");
    off.counting();
    off.start(3);
    off.advance();
  }
  EXPECT_EQ(quiet.str(), "");

  std::ostringstream empty;
  cli::ProgressBar none(empty, true, "export");
  none.start(0);  // no rows: a full bar, no division by zero
  EXPECT_NE(empty.str().find("100%  0/0"), std::string::npos);
}

}  // namespace
