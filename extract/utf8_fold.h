// UTF-8 decoding and caseless text for the criteria: characters are code points, and letter
// case is removed with Unicode simple case folding (one code point to one code point, so
// positions in a folded text are positions in the original).
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

namespace extract::utf8 {

// A byte that does not begin a valid UTF-8 sequence stands for itself, as one character whose
// code point is kRawByteBase + the byte (a lone low surrogate, which valid UTF-8 never yields).
inline constexpr char32_t kRawByteBase = 0xDC00;

struct Decoded {
  char32_t codePoint;
  std::size_t length;  // bytes used, 1 to 4
};

// The character that begins at `pos` (< text.size()). Overlong forms, surrogates, code points
// above U+10FFFF and cut-off sequences are not valid: their first byte is a raw byte.
Decoded DecodeAt(std::string_view text, std::size_t pos);

// True when some byte of `text` is 0x80 or above.
bool HasNonAscii(std::string_view text);

// True when some non-ASCII character of `text` folds to an ASCII one (the Kelvin sign to "k",
// the long s to "s"). Cheap: most text is ruled out by its bytes alone.
bool HasCharFoldingToAscii(std::string_view text);
// False when no character that begins with the byte `lead` folds to ASCII.
bool MayBeginCharFoldingToAscii(unsigned char lead);

// The simple case folding of one code point (raw bytes fold to themselves).
char32_t FoldCase(char32_t codePoint);

// `text` decoded and case-folded, one code point per character. Short texts stay on the stack.
class FoldedText {
 public:
  explicit FoldedText(std::string_view text);
  FoldedText(const FoldedText&) = delete;
  FoldedText& operator=(const FoldedText&) = delete;

  std::u32string_view view() const { return {data_, size_}; }

 private:
  static constexpr std::size_t kInline = 64;
  std::array<char32_t, kInline> inline_;
  std::vector<char32_t> heap_;
  const char32_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace extract::utf8
