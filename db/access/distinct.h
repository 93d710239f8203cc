// SELECT DISTINCT as the Access engine answers it: rows that compare equal count once (texts
// that differ only in letter case are equal; the first row met is kept), and the rows come
// sorted ascending, field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/base/engine.h"
#include "db/base/value.h"

namespace db::access {

// Access order of two values of one field: Null first; numbers, currency and decimals by
// amount; dates by time; yes/no with Yes first (Yes is stored as -1); text by a locale-aware
// comparison of the case-folded texts; binary data byte by byte. Values of different kinds
// (which one field never holds) are ordered by kind. Negative, zero or positive.
int CompareAccessValues(const Value& a, const Value& b);

// Collects the distinct rows of a query as they are read, so that only one row of each group
// of equal rows is held, then hands them out sorted. Kept texts live in one array of bytes,
// each with its case-folded form beside it only where that is not plain ASCII lower case.
class AccessDistinctRows {
 public:
  // With a filter, rows that fail it may be left out (see RowFilter): all of them when the
  // filter gives equal rows the same answer, else the row kept of each group of texts.
  explicit AccessDistinctRows(RowFilter filter = {});

  // Keeps `row` unless an equal row came before it (or the filter leaves it out). Every row has
  // as many fields as the first; a row of another width is refused (std::invalid_argument).
  void add(const std::vector<Value>& row);
  // The next of the rows kept, in order; the first call sorts them. False after the last.
  bool next(std::vector<Value>& row);
  // How many rows next() hands out in all (the first call sorts them).
  std::size_t size();
  // All the rows kept, sorted.
  std::vector<std::vector<Value>> take();

 private:
  enum class Kind : char {
    kNull,
    kText,        // its folded form is its ASCII lower case, not stored
    kFoldedText,  // its folded form follows its bytes
    kOther,       // not text; the value is others_[size]
  };
  // 16 bytes a field: a text has bytes (perhaps none, but somewhere); a Null or another value
  // has none, and another value is marked in foldedSize.
  struct Field {
    static constexpr std::uint32_t kOtherMark = 0xffffffffu;
    const char* text = nullptr;    // the bytes of a text, in blocks_
    std::uint32_t size = 0;        // of the text; of another value, its place in others_
    std::uint32_t foldedSize = 0;  // of the folded form after the text (0: not stored)
    Kind kind() const {
      if (text) return foldedSize != 0 ? Kind::kFoldedText : Kind::kText;
      return foldedSize == kOtherMark ? Kind::kOther : Kind::kNull;
    }
  };
  // Room for the bytes of texts, in blocks that never move, so that holding more copies nothing.
  static constexpr std::size_t kBlockSize = 1 << 20;

  RowFilter filter_;
  // The fields of every row held, one row after the other; every row has width_ fields.
  std::vector<Field> fields_;
  std::size_t width_ = 0;
  std::size_t rows_ = 0;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* block_ = nullptr;      // the block being filled
  std::size_t blockLeft_ = 0;  // room left in it
  std::vector<Value> others_;
  // The rows to hand out, by number: the rows held less those the filter turned down (which
  // are held only so that rows equal to them are dropped as well). Sorted by next().
  std::vector<std::size_t> kept_;
  // Rows of texts and Nulls only, found by the hash of their folded texts: an open-addressed
  // table of the low 32 bits of the hash (high half) and the row + 1 (low half), 0 for a free
  // slot; 8 bytes a slot keep the table small enough to stay in the caches. Equal there means
  // equal, so a later repeat is dropped at once; other rows are all kept and their repeats
  // dropped after the sort.
  std::vector<std::uint64_t> slots_;
  std::size_t used_ = 0;
  std::vector<std::string> rowFolded_;  // scratch for the row being added
  std::vector<char> rowAscii_;          // scratch: whether each text of that row is ASCII
  bool plainOrder_ = true;  // every kept text folds to ASCII that the plain order can sort
  bool sorted_ = false;
  std::size_t handedOut_ = 0;

  std::size_t rowStart(std::size_t row) const { return row * width_; }
  std::size_t rowEnd(std::size_t row) const { return (row + 1) * width_; }
  bool sameTexts(std::size_t kept, const std::vector<Value>& row) const;
  void grow();
  void store(const std::vector<Value>& row, bool kept);
  char* room(std::size_t size);
  std::string foldedText(const Field& f) const;
  void sort();
};

// The distinct rows of `rows`, sorted.
std::vector<std::vector<Value>> AccessDistinct(std::vector<std::vector<Value>> rows);

}  // namespace db::access
