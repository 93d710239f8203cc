#include "db/access/distinct.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <future>
#include <iterator>
#include <stdexcept>
#include <string_view>

namespace db::access {
namespace {

int Sign(long long v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

int CompareReal(double a, double b) {
  if (a < b) return -1;
  if (a > b) return 1;
  return 0;  // equal, or NaN (kept together)
}

// Compares the magnitudes of two canonical decimal texts without their signs.
int CompareMagnitude(std::string_view a, std::string_view b) {
  auto dotA = a.find('.'), dotB = b.find('.');
  std::string_view wholeA = a.substr(0, dotA), wholeB = b.substr(0, dotB);
  std::string_view fracA = dotA == std::string_view::npos ? "" : a.substr(dotA + 1);
  std::string_view fracB = dotB == std::string_view::npos ? "" : b.substr(dotB + 1);
  if (wholeA.size() != wholeB.size()) return wholeA.size() < wholeB.size() ? -1 : 1;
  if (int c = wholeA.compare(wholeB)) return Sign(c);
  std::size_t n = std::max(fracA.size(), fracB.size());
  for (std::size_t i = 0; i < n; ++i) {
    char ca = i < fracA.size() ? fracA[i] : '0';
    char cb = i < fracB.size() ? fracB[i] : '0';
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

int CompareDecimal(const std::string& a, const std::string& b) {
  bool negA = !a.empty() && a[0] == '-', negB = !b.empty() && b[0] == '-';
  if (negA != negB) return negA ? -1 : 1;
  int c = CompareMagnitude(std::string_view(a).substr(negA), std::string_view(b).substr(negB));
  return negA ? -c : c;
}

int CompareBytes(const std::string& a, const std::string& b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Texts compared through their case-folded forms: a locale-aware order, and the code units
// where the locale sees no difference, so that only equal folded texts compare equal.
class TextOrder {
 public:
  // The user's locale; the C locale would order by code points, so a plain English order (which
  // places accented letters beside their base letters, as the engine's General order does)
  // stands in for it.
  TextOrder() : collator_(MakeCollator()) {}

  static QCollator MakeCollator() {
    return QCollator(QLocale::system().language() == QLocale::C
                         ? QLocale(QLocale::English, QLocale::UnitedStates)
                         : QLocale::system());
  }

  int compare(const QString& foldedA, const QString& foldedB) const {
    if (foldedA == foldedB) return 0;
    if (int c = collator_.compare(foldedA, foldedB)) return Sign(c);
    return Sign(foldedA.compare(foldedB));
  }

 private:
  QCollator collator_;
};

int CompareNonText(const Value& a, const Value& b) {
  if (a.type() != b.type()) return a.type() < b.type() ? -1 : 1;
  switch (a.type()) {
    case Value::Type::Null:
      return 0;
    case Value::Type::Integer:
    case Value::Type::Currency:
      return a.integer() < b.integer() ? -1 : (a.integer() > b.integer() ? 1 : 0);
    // Yes is -1 to the engine, so it sorts before No.
    case Value::Type::Boolean:
      return a.integer() == b.integer() ? 0 : (a.integer() != 0 ? -1 : 1);
    case Value::Type::Double:
    case Value::Type::DateTime:
      return CompareReal(a.real(), b.real());
    case Value::Type::Decimal:
      return CompareDecimal(a.text(), b.text());
    case Value::Type::Binary:
      return CompareBytes(a.text(), b.text());
    case Value::Type::Text:
      break;
  }
  return 0;
}

// Puts the case-folded form of `text` in `folded`, reusing the room it has; true when `text` is
// plain ASCII (folded by lower-casing A-Z). Anything else goes through Qt's full case folding.
bool FoldUtf8(const std::string& text, std::string& folded) {
  folded.assign(text);
  for (char& c : folded) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      folded = QString::fromStdString(text).toCaseFolded().toStdString();
      return false;
    }
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return true;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString FoldedText(const std::string& text) { return QString::fromStdString(text).toCaseFolded(); }

bool IsText(const Value& v) { return v.type() == Value::Type::Text; }

// The plain order of ASCII texts: the rank of each byte (after A-Z are lowered), 0 for a byte
// it does not rank. Where the collator is the plain English one (the C locale's stand-in
// included), it orders ASCII texts without upper case letters character by character: every
// character ranked here has a weight of its own and no pair of them sorts as one, so that
// comparing the ranks of the folded bytes gives the collator's answer without its sort keys.
// The ranks come from the collator itself. Other languages (whose collators may join
// letters, as "ch" in Czech) always take the collator's own keys.
struct PlainOrder {
  std::array<unsigned char, 256> rank{};
  bool usable = false;
};

const PlainOrder& ThePlainOrder() {
  static const PlainOrder order = [] {
    PlainOrder o;
    QCollator collator = TextOrder::MakeCollator();
    if (collator.locale().language() != QLocale::English) return o;
    std::vector<QString> chars;
    for (int c = 1; c < 0x80; ++c) {
      if (c >= 'A' && c <= 'Z') continue;
      QString one(QChar(static_cast<char16_t>(c)));
      if (collator.compare(one, QString()) != 0) chars.push_back(one);
    }
    std::sort(chars.begin(), chars.end(),
              [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    // Characters the collator cannot tell apart (control characters, which it ignores but for
    // their code) stay unranked: texts that hold them take the collator's keys.
    std::vector<bool> tied(chars.size());
    for (std::size_t i = 1; i < chars.size(); ++i)
      if (collator.compare(chars[i - 1], chars[i]) >= 0) tied[i - 1] = tied[i] = true;
    unsigned char next = 0;
    for (std::size_t i = 0; i < chars.size(); ++i)
      if (!tied[i]) o.rank[chars[i][0].unicode()] = ++next;
    for (int c = 'A'; c <= 'Z'; ++c) o.rank[c] = o.rank[c - 'A' + 'a'];
    o.usable = true;
    return o;
  }();
  return order;
}

bool PlainOrderRanks(std::string_view folded, const PlainOrder& order) {
  for (char c : folded)
    if (order.rank[static_cast<unsigned char>(c)] == 0) return false;
  return true;
}

int ComparePlain(std::string_view a, std::string_view b, const PlainOrder& order) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char ra = order.rank[static_cast<unsigned char>(a[i])];
    unsigned char rb = order.rank[static_cast<unsigned char>(b[i])];
    if (ra != rb) return ra < rb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// From this many rows on, sort keys are made and rows sorted in two halves at once.
constexpr std::size_t kParallelFrom = 20000;

// Rows past this many are not put in the hash table (its slots hold 32-bit row numbers).
constexpr std::size_t kMaxHashedRows = 0xffffffffu - 1;

}  // namespace

int CompareAccessValues(const Value& a, const Value& b) {
  bool nullA = a.isNull(), nullB = b.isNull();
  if (nullA || nullB) return nullA == nullB ? 0 : (nullA ? -1 : 1);
  if (a.type() == Value::Type::Text && b.type() == Value::Type::Text)
    return TextOrder().compare(FoldedText(a.text()), FoldedText(b.text()));
  return CompareNonText(a, b);
}

AccessDistinctRows::AccessDistinctRows(RowFilter filter) : filter_(std::move(filter)) {}

void AccessDistinctRows::add(const std::vector<Value>& row) {
  if (rows_ == 0) width_ = row.size();
  if (row.size() != width_) throw std::invalid_argument("rows of DISTINCT differ in width");
  if (filter_.keeps && filter_.sameForEqualRows && !filter_.keeps(row)) return;
  rowFolded_.resize(row.size());
  rowAscii_.resize(row.size());
  bool textOrNull = true;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (IsText(row[i])) {
      rowAscii_[i] = FoldUtf8(row[i].text(), rowFolded_[i]);
    } else {
      rowFolded_[i].clear();
      textOrNull = textOrNull && row[i].isNull();
    }
  }
  // The table holds row numbers in 32 bits; rows beyond them are kept and sorted out later,
  // and so are rows with other values. Those are all handed out, whatever the filter says.
  if (!textOrNull || rows_ >= kMaxHashedRows) {
    store(row, true);
    return;
  }
  std::size_t hash = row.size();
  for (std::size_t i = 0; i < row.size(); ++i)
    hash = hash * 1000003u ^
           (row[i].isNull() ? std::size_t{0x9e3779b9u} : std::hash<std::string>()(rowFolded_[i]));
  auto tag = static_cast<std::uint32_t>(hash);
  if (used_ * 4 >= slots_.size() * 3) grow();
  std::size_t mask = slots_.size() - 1;
  std::size_t s = tag & mask;
  for (; slots_[s] != 0; s = (s + 1) & mask)
    if (slots_[s] >> 32 == tag && sameTexts((slots_[s] & 0xffffffffu) - 1, row)) return;
  slots_[s] = std::uint64_t{tag} << 32 | (rows_ + 1);
  ++used_;
  store(row, !filter_.keeps || filter_.sameForEqualRows || filter_.keeps(row));
}

void AccessDistinctRows::store(const std::vector<Value>& row, bool kept) {
  const PlainOrder& order = ThePlainOrder();
  if (kept) kept_.push_back(rows_);
  ++rows_;
  for (std::size_t i = 0; i < row.size(); ++i) {
    Field f;  // a Null as it stands
    if (IsText(row[i])) {
      const std::string& text = row[i].text();
      const std::string& folded = rowFolded_[i];
      f.size = static_cast<std::uint32_t>(text.size());
      f.foldedSize = rowAscii_[i] ? 0 : static_cast<std::uint32_t>(folded.size());
      char* bytes = room(f.size + f.foldedSize);
      std::memcpy(bytes, text.data(), f.size);
      if (f.foldedSize != 0) std::memcpy(bytes + f.size, folded.data(), f.foldedSize);
      f.text = bytes;
      if (kept) plainOrder_ = plainOrder_ && order.usable && PlainOrderRanks(rowFolded_[i], order);
    } else if (!row[i].isNull()) {
      f.foldedSize = Field::kOtherMark;
      f.size = static_cast<std::uint32_t>(others_.size());
      others_.push_back(row[i]);
    }
    fields_.push_back(f);
  }
}

char* AccessDistinctRows::room(std::size_t size) {
  static char none[1];
  if (size == 0) return none;
  // A long text has a block of its own; the block being filled stays the one to fill.
  if (size > kBlockSize / 4) {
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    return blocks_.back().get();
  }
  if (size > blockLeft_) {
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
    block_ = blocks_.back().get();
    blockLeft_ = kBlockSize;
  }
  char* at = block_ + (kBlockSize - blockLeft_);
  blockLeft_ -= size;
  return at;
}

std::string AccessDistinctRows::foldedText(const Field& f) const {
  if (f.kind() == Kind::kFoldedText) return std::string(f.text + f.size, f.foldedSize);
  std::string folded(f.text, f.size);
  for (char& c : folded) c = AsciiLower(c);
  return folded;
}

bool AccessDistinctRows::sameTexts(std::size_t kept, const std::vector<Value>& row) const {
  std::size_t start = rowStart(kept);
  for (std::size_t i = 0; i < row.size(); ++i) {
    const Field& f = fields_[start + i];
    const std::string& folded = rowFolded_[i];
    if (f.kind() == Kind::kOther || (f.kind() == Kind::kNull) != row[i].isNull()) return false;
    if (f.kind() == Kind::kNull) continue;
    if (f.kind() == Kind::kFoldedText) {
      if (std::string_view(f.text + f.size, f.foldedSize) != folded) return false;
      continue;
    }
    if (f.size != folded.size()) return false;
    const char* p = f.text;
    for (std::size_t j = 0; j < folded.size(); ++j)
      if (AsciiLower(p[j]) != folded[j]) return false;
  }
  return true;
}

void AccessDistinctRows::grow() {
  std::vector<std::uint64_t> old(std::max<std::size_t>(64, slots_.size() * 2));
  old.swap(slots_);
  std::size_t mask = slots_.size() - 1;
  for (std::uint64_t slot : old) {
    if (slot == 0) continue;
    std::size_t s = (slot >> 32) & mask;
    while (slots_[s] != 0) s = (s + 1) & mask;
    slots_[s] = slot;
  }
}

void AccessDistinctRows::sort() {
  sorted_ = true;
  slots_ = {};  // no more rows come: the table has done its work
  const PlainOrder& order = ThePlainOrder();
  const bool halves = kept_.size() >= kParallelFrom;

  // Without the plain order, texts are ordered by collation sort keys worked out once per kept
  // text, so that the sort compares bytes; equal keys fall back on the code units of the folded
  // texts, as TextOrder does. Large sets work in two halves at once, each with a collator of its
  // own.
  std::vector<QCollatorSortKey> keys;
  if (!plainOrder_) {
    const QCollatorSortKey none = TextOrder::MakeCollator().sortKey(QString());
    keys.assign(fields_.size(), none);
    auto makeKeys = [&](std::size_t from, std::size_t to) {
      QCollator collator = TextOrder::MakeCollator();
      for (std::size_t k = from; k < to; ++k)
        for (std::size_t f = rowStart(kept_[k]); f < rowEnd(kept_[k]); ++f)
          if (fields_[f].kind() == Kind::kText || fields_[f].kind() == Kind::kFoldedText)
            keys[f] = collator.sortKey(FromUtf8(foldedText(fields_[f])));
    };
    if (halves) {
      auto secondHalf = std::async(std::launch::async, makeKeys, kept_.size() / 2, kept_.size());
      makeKeys(0, kept_.size() / 2);
      secondHalf.get();
    } else {
      makeKeys(0, kept_.size());
    }
  }

  auto isText = [](Kind k) { return k == Kind::kText || k == Kind::kFoldedText; };
  auto foldedView = [&](const Field& f) {
    // Bytes whose plain ranks are those of the folded text (A-Z rank as a-z).
    return f.kind() == Kind::kFoldedText ? std::string_view(f.text + f.size, f.foldedSize)
                                         : std::string_view(f.text, f.size);
  };
  auto typeOf = [&](const Field& f) {
    return f.kind() == Kind::kOther ? others_[f.size].type() : Value::Type::Text;
  };
  auto compareFields = [&](std::size_t a, std::size_t b) {
    const Field &fa = fields_[a], &fb = fields_[b];
    bool nullA = fa.kind() == Kind::kNull, nullB = fb.kind() == Kind::kNull;
    if (nullA || nullB) return nullA == nullB ? 0 : (nullA ? -1 : 1);
    if (!isText(fa.kind()) || !isText(fb.kind())) {
      if (isText(fa.kind()) || isText(fb.kind())) return typeOf(fa) < typeOf(fb) ? -1 : 1;
      return CompareNonText(others_[fa.size], others_[fb.size]);
    }
    if (plainOrder_) return ComparePlain(foldedView(fa), foldedView(fb), order);
    if (int c = keys[a].compare(keys[b])) return Sign(c);
    std::string foldedA = foldedText(fa), foldedB = foldedText(fb);
    if (foldedA == foldedB) return 0;
    return Sign(FromUtf8(foldedA).compare(FromUtf8(foldedB)));
  };
  auto compareRows = [&](std::size_t a, std::size_t b) {
    std::size_t startA = rowStart(a), startB = rowStart(b);
    std::size_t sizeA = rowEnd(a) - startA, sizeB = rowEnd(b) - startB;
    std::size_t n = std::min(sizeA, sizeB);
    for (std::size_t i = 0; i < n; ++i)
      if (int c = compareFields(startA + i, startB + i)) return c;
    return sizeA == sizeB ? 0 : (sizeA < sizeB ? -1 : 1);
  };

  // Stable, so that of equal rows the first one met leads its run and is the one kept.
  auto sortInHalves = [&](auto& items, auto less) {
    if (!halves) {
      std::stable_sort(items.begin(), items.end(), less);
      return;
    }
    // The merge keeps the first half's rows ahead of equal ones from the second, so the whole
    // stays as a stable sort leaves it.
    auto middle = items.begin() + static_cast<std::ptrdiff_t>(items.size() / 2);
    auto secondHalf =
        std::async(std::launch::async, [&] { std::stable_sort(middle, items.end(), less); });
    std::stable_sort(items.begin(), middle, less);
    secondHalf.get();
    std::inplace_merge(items.begin(), middle, items.end(), less);
  };
  const bool firstFieldsText = std::all_of(kept_.begin(), kept_.end(), [&](std::size_t r) {
    return rowEnd(r) > rowStart(r) && fields_[rowStart(r)].kind() != Kind::kOther;
  });
  if (plainOrder_ && firstFieldsText) {
    // Most comparisons are settled by the ranks of eight bytes of the first field, packed into
    // a number that sits beside the row number: the bytes after those that every first field
    // begins with (codes such as "CUST-00123" differ only further on), 0 past the end. Null
    // has no bytes and ties with the empty text until the rows are compared.
    struct Keyed {
      std::uint64_t key;
      std::size_t row;
    };
    auto firstView = [&](std::size_t r) {
      const Field& first = fields_[rowStart(r)];
      return first.kind() == Kind::kNull ? std::string_view() : foldedView(first);
    };
    std::size_t common = kept_.empty() ? 0 : firstView(kept_[0]).size();
    for (std::size_t r : kept_) {
      std::string_view view = firstView(r), head = firstView(kept_[0]);
      std::size_t n = std::min(common, view.size());
      common = 0;
      while (common < n && AsciiLower(view[common]) == AsciiLower(head[common])) ++common;
    }
    std::vector<Keyed> keyed;
    keyed.reserve(kept_.size());
    for (std::size_t r : kept_) {
      std::string_view view = firstView(r).substr(common);
      std::uint64_t key = 0;
      for (std::size_t i = 0; i < 8; ++i)
        key = key << 8 | (i < view.size() ? order.rank[static_cast<unsigned char>(view[i])] : 0);
      keyed.push_back({key, r});
    }
    kept_ = {};
    sortInHalves(keyed, [&](const Keyed& a, const Keyed& b) {
      return a.key != b.key ? a.key < b.key : compareRows(a.row, b.row) < 0;
    });
    kept_.reserve(keyed.size());
    for (const Keyed& k : keyed) kept_.push_back(k.row);
  } else {
    sortInHalves(kept_, [&](std::size_t a, std::size_t b) { return compareRows(a, b) < 0; });
  }
  // Rows that were not hashed meet their repeats only now.
  auto last = std::unique(kept_.begin(), kept_.end(),
                          [&](std::size_t a, std::size_t b) { return compareRows(a, b) == 0; });
  kept_.erase(last, kept_.end());
}

bool AccessDistinctRows::next(std::vector<Value>& row) {
  if (!sorted_) sort();
  if (handedOut_ >= kept_.size()) return false;
  std::size_t r = kept_[handedOut_++];
  row.clear();
  for (std::size_t f = rowStart(r); f < rowEnd(r); ++f) {
    const Field& field = fields_[f];
    switch (field.kind()) {
      case Kind::kNull:
        row.push_back(Value::Null());
        break;
      case Kind::kText:
      case Kind::kFoldedText:
        row.push_back(Value::Text(std::string(field.text, field.size)));
        break;
      case Kind::kOther:
        row.push_back(others_[field.size]);
        break;
    }
  }
  return true;
}

std::size_t AccessDistinctRows::size() {
  if (!sorted_) sort();
  return kept_.size();
}

std::vector<std::vector<Value>> AccessDistinctRows::take() {
  std::vector<std::vector<Value>> rows;
  std::vector<Value> row;
  while (next(row)) rows.push_back(row);
  return rows;
}

std::vector<std::vector<Value>> AccessDistinct(std::vector<std::vector<Value>> rows) {
  AccessDistinctRows distinct;
  for (const auto& row : rows) distinct.add(row);
  return distinct.take();
}

}  // namespace db::access
