#include "db/access/distinct.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <future>
#include <iterator>
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

// Puts the case-folded form of `text` in `folded`, reusing the room it has. Plain ASCII (most
// texts) folds to lower case byte by byte; anything else goes through Qt's full case folding.
void FoldUtf8(const std::string& text, std::string& folded) {
  folded.assign(text);
  for (char& c : folded) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      folded = QString::fromStdString(text).toCaseFolded().toStdString();
      return;
    }
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString FoldedText(const std::string& text) { return QString::fromStdString(text).toCaseFolded(); }

bool IsText(const Value& v) { return v.type() == Value::Type::Text; }

// What the sort needs to know of a field without reading its value.
enum FieldKind : char { kNull = 0, kText = 1, kOther = 2 };

// From this many fields on, sort keys are made and rows sorted in two halves at once.
constexpr std::size_t kParallelFrom = 20000;

// Rows past this many are not put in the hash table (its slots hold 32-bit row numbers).
constexpr std::size_t kMaxHashedRows = 0xffffffffu - 1;

char KindOf(const Value& v) { return v.isNull() ? kNull : (IsText(v) ? kText : kOther); }

}  // namespace

int CompareAccessValues(const Value& a, const Value& b) {
  bool nullA = a.isNull(), nullB = b.isNull();
  if (nullA || nullB) return nullA == nullB ? 0 : (nullA ? -1 : 1);
  if (a.type() == Value::Type::Text && b.type() == Value::Type::Text)
    return TextOrder().compare(FoldedText(a.text()), FoldedText(b.text()));
  return CompareNonText(a, b);
}

void AccessDistinctRows::add(const std::vector<Value>& row) {
  rowFolded_.resize(row.size());
  bool textOrNull = true;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (IsText(row[i])) {
      FoldUtf8(row[i].text(), rowFolded_[i]);
    } else {
      rowFolded_[i].clear();
      textOrNull = textOrNull && row[i].isNull();
    }
  }
  // The table holds row numbers in 32 bits; rows beyond them are kept and sorted out later.
  if (textOrNull && starts_.size() < kMaxHashedRows) {
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
    slots_[s] = std::uint64_t{tag} << 32 | (starts_.size() + 1);
    ++used_;
  }
  starts_.push_back(values_.size());
  for (std::size_t i = 0; i < row.size(); ++i) {
    foldedChars_ += rowFolded_[i];
    foldedEnds_.push_back(foldedChars_.size());
    kind_.push_back(KindOf(row[i]));
    values_.push_back(row[i]);
  }
}

std::string_view AccessDistinctRows::folded(std::size_t field) const {
  std::size_t begin = field == 0 ? 0 : foldedEnds_[field - 1];
  return std::string_view(foldedChars_).substr(begin, foldedEnds_[field] - begin);
}

bool AccessDistinctRows::sameTexts(std::size_t kept, const std::vector<Value>& row) const {
  std::size_t start = starts_[kept];
  std::size_t end = kept + 1 < starts_.size() ? starts_[kept + 1] : values_.size();
  if (end - start != row.size()) return false;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if ((kind_[start + i] == kNull) != row[i].isNull()) return false;
    if (!row[i].isNull() && folded(start + i) != rowFolded_[i]) return false;
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

std::vector<std::vector<Value>> AccessDistinctRows::take() {
  // Text order by collation sort keys worked out once per kept text, so that the sort compares
  // bytes; equal keys fall back on the code units of the folded texts, as TextOrder does.
  // Large sets work in two halves at once, each with a collator of its own.
  const bool halves = values_.size() >= kParallelFrom;
  const QCollatorSortKey none = TextOrder::MakeCollator().sortKey(QString());
  std::vector<QCollatorSortKey> keys(values_.size(), none);
  auto makeKeys = [&](std::size_t from, std::size_t to) {
    QCollator collator = TextOrder::MakeCollator();
    for (std::size_t f = from; f < to; ++f)
      if (kind_[f] == kText) keys[f] = collator.sortKey(FromUtf8(folded(f)));
  };
  if (halves) {
    auto secondHalf = std::async(std::launch::async, makeKeys, values_.size() / 2, values_.size());
    makeKeys(0, values_.size() / 2);
    secondHalf.get();
  } else {
    makeKeys(0, values_.size());
  }

  auto compareFields = [&](std::size_t a, std::size_t b) {
    char kindA = kind_[a], kindB = kind_[b];
    if (kindA == kNull || kindB == kNull) return kindA == kindB ? 0 : (kindA == kNull ? -1 : 1);
    if (kindA != kText || kindB != kText) return CompareNonText(values_[a], values_[b]);
    if (int c = keys[a].compare(keys[b])) return Sign(c);
    if (folded(a) == folded(b)) return 0;
    return Sign(FromUtf8(folded(a)).compare(FromUtf8(folded(b))));
  };
  // A kept row as the sort sees it: where its fields start, how many there are, and the sort
  // key of its first field when that is a text, so that most comparisons read nothing else.
  struct Span {
    std::size_t start;
    std::size_t size;
    const QCollatorSortKey* firstKey;
  };
  auto compareRows = [&](const Span& a, const Span& b) {
    if (a.firstKey && b.firstKey)
      if (int c = a.firstKey->compare(*b.firstKey)) return Sign(c);
    std::size_t n = std::min(a.size, b.size);
    for (std::size_t i = 0; i < n; ++i)
      if (int c = compareFields(a.start + i, b.start + i)) return c;
    return a.size == b.size ? 0 : (a.size < b.size ? -1 : 1);
  };

  std::vector<Span> spans(starts_.size());
  for (std::size_t r = 0; r < starts_.size(); ++r) {
    std::size_t start = starts_[r];
    std::size_t end = r + 1 < starts_.size() ? starts_[r + 1] : values_.size();
    bool text = end > start && kind_[start] == kText;
    spans[r] = {start, end - start, text ? &keys[start] : nullptr};
  }
  // Stable, so that of equal rows the first one met leads its run and is the one kept.
  auto less = [&](const Span& a, const Span& b) { return compareRows(a, b) < 0; };
  if (halves) {
    // The merge keeps the first half's rows ahead of equal ones from the second, so the whole
    // stays as a stable sort leaves it.
    auto middle = spans.begin() + static_cast<std::ptrdiff_t>(spans.size() / 2);
    auto secondHalf =
        std::async(std::launch::async, [&] { std::stable_sort(middle, spans.end(), less); });
    std::stable_sort(spans.begin(), middle, less);
    secondHalf.get();
    std::inplace_merge(spans.begin(), middle, spans.end(), less);
  } else {
    std::stable_sort(spans.begin(), spans.end(), less);
  }

  std::vector<std::size_t> kept;
  kept.reserve(spans.size());
  for (std::size_t i = 0; i < spans.size(); ++i)
    if (i == 0 || compareRows(spans[i - 1], spans[i]) != 0) kept.push_back(i);
  // Move the values out only once all comparing is done.
  std::vector<std::vector<Value>> distinct;
  distinct.reserve(kept.size());
  for (std::size_t i : kept) {
    auto first =
        std::make_move_iterator(values_.begin() + static_cast<std::ptrdiff_t>(spans[i].start));
    distinct.emplace_back(first, first + static_cast<std::ptrdiff_t>(spans[i].size));
  }
  *this = AccessDistinctRows();
  return distinct;
}

std::vector<std::vector<Value>> AccessDistinct(std::vector<std::vector<Value>> rows) {
  AccessDistinctRows distinct;
  for (const auto& row : rows) distinct.add(row);
  return distinct.take();
}

}  // namespace db::access
