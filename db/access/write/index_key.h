// Index keys of Jet 3, Jet 4 and ACE files: how a row's column values become the bytes that an
// index page stores and compares (unsigned, byte by byte, shorter first when one is a prefix of the
// other).
//
// A key is the concatenation, for each column of the index in order, of:
//   flag byte     0x7F a value in an ascending column, 0x80 in a descending one;
//                 0x00 Null in an ascending column, 0xFF in a descending one (nothing follows)
//   Long, Integer the value big-endian with the sign bit flipped, so that negative numbers sort
//                 first; a descending column stores the one's complement of those bytes
//   Text          the "General" collation of the text (see below); a descending column stores
//                 the one's complement of all of it followed by one 0x00
// In a leaf entry the key is followed by the row's data page (3 bytes, big-endian) and row
// number (1 byte); see jet_index_pages.h.
//
// Text keys. The text is cut to 255 UTF-16 code units and trailing blanks are dropped. Each
// code unit has one of these behaviours in the collation (the tables in jet_index_weights.inc
// give them for every code unit; see tools/make_index_weights.py for where they come from):
//   simple         a primary weight of one to eight bytes, written in order
//   international  a primary weight plus extra bytes for the "extra" run: an accented letter
//                  is the weight of its base letter plus its accent code (e-acute is the
//                  weight of E plus 0x0E)
//   modifier       no weight; a byte added to the last byte of the extra run (a combining
//                  mark: "e" followed by a combining acute gives the key of e-acute)
//   flagged        a weight, optional extra bytes and a two-bit flag (2 or 3) for the flag run
//                  (the Japanese kana: small and normal forms differ only there)
//   unprintable    no weight; it goes into a trailing run as its position and a code (the
//                  apostrophe and the hyphen belong here, so "O'Hara" sorts with "OHara")
//   ignored        nothing at all (the key of "a\u200Db", a zero-width joiner inside, is that
//                  of "ab")
//   surrogates     a weight worked out from the code unit and the extra byte 0x3F, so that a
//                  character beyond the Basic Multilingual Plane (an emoji) is its two units
// Letter case is not kept: a lower-case letter has exactly the bytes of its capital; a few
// letters write the weights of two (AE, SS, TH; UE for U-diaeresis in the newer order).
// Layout: weights, 0x01, the extra run when any extra byte is present (0x02 for each earlier
// weighted unit without extra bytes, then the unit's extra bytes; trailing 0x00..0x02 bytes
// dropped), and when a flag or an unprintable unit is present: 0x01 0x01, then when there are
// flags, the flags packed three to a byte (0x80 | f1 << 4 | f2 << 2 | f3, trailing 3s dropped)
// followed by FF 02 80 FF 80 (even when every flag was dropped), and FF more when unprintable
// units follow; then for those, 0x01
// and per unprintable unit its position (7 + 4 * p) | 0x8000 big-endian, 0x06 and its code,
// where p counts the weighted units before it, or once an extra run exists, the length of that
// run so far plus the weighted units not yet in it (less one when the run began with a
// modifier). The key ends with 0x00.
//
// Two collations share this layout and differ only in the tables: "General (legacy)", used by
// Jet 4 and ACE 12 files (sort order 1033, version 0), and "General" of Access 2010 and later
// (1033, version 1). Every code unit has a behaviour in both, so any text can be indexed.
//
// Jet 3 files (Access 97, sort order 1033 "General") key a text as its weights alone, one byte
// per character and letter case ignored, followed by the 0x00 of every key: no 0x01 and no
// extra run. The weights are known here for the digits and the unaccented Latin letters only:
//   0-9  0x56-0x5F
//   A-Z  60 61 62 64 66 67 68 69 6A 6B 6C 6D 6F 70 72 73 74 75 76 77 78 7A 7B 7C 7D 7E
//        (a-z the same)
// (the gaps are taken by accented letters). A text holding any other character, a blank
// included, or a descending text column, is refused (errc::kNotSupported) rather than given a
// key Access would not find.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace db::access::write {

enum class TextCollation { kGeneralLegacy, kGeneral, kJet3General };

// The collation of a text column from its definition: the sort order value (16 bits at offset
// 11 of a Jet 4 / ACE column entry, 9 of a Jet 3 one) and the version byte (offset 14; none in
// Jet 3). A zero sort order is the legacy General one. Nothing for sort orders we do not build
// keys for.
std::optional<TextCollation> CollationFromSortOrder(std::uint16_t sortOrder, std::uint8_t version,
                                                    bool jet3 = false);

// Whether `utf8` can be indexed in `collation`: every valid UTF-8 text can, in Jet 3's only
// digits and unaccented Latin letters. When not, `why` (when given) says what is wrong.
bool CanEncodeIndexText(std::string_view utf8, TextCollation collation, std::string* why = nullptr);

// Whether two texts have the same key in `collation`, so that a unique index can hold only one
// of them: names that differ in letter case, in ignored characters, in trailing blanks, or
// that spell a letter the collation writes as two ("Strasse" and "Stra\u00DFe").
bool SameIndexText(std::u16string_view a, std::u16string_view b, TextCollation collation);

// Whether the weights of every code unit, as this program reads them from its compiled tables,
// are those the tables were made from (a digest made by tools/make_index_weights.py).
bool IndexWeightsMatchTheirSource(TextCollation collation);

// Builds one index key column by column.
class IndexKeyBuilder {
 public:
  // A Null value of a column.
  IndexKeyBuilder& addNull(bool ascending = true);
  // A Long (32-bit) column value.
  IndexKeyBuilder& addLong(std::int32_t value, bool ascending = true);
  // An Integer (16-bit) column value.
  IndexKeyBuilder& addInteger(std::int16_t value, bool ascending = true);
  // A text value given as UTF-8. Throws db::Error (errc::kNotSupported) for text that is not
  // valid UTF-8.
  IndexKeyBuilder& addText(std::string_view utf8, TextCollation collation, bool ascending = true);
  // A text value given as UTF-16.
  IndexKeyBuilder& addText(std::u16string_view text, TextCollation collation,
                           bool ascending = true);

  const std::vector<unsigned char>& bytes() const { return bytes_; }
  std::vector<unsigned char> take() { return std::move(bytes_); }

 private:
  void addNumber(std::uint64_t bits, int size, bool ascending);
  std::vector<unsigned char> bytes_;
};

}  // namespace db::access::write
