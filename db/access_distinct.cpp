#include "db/access_distinct.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string_view>

namespace db {
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
    case Value::Type::Null: return 0;
    case Value::Type::Integer:
    case Value::Type::Currency:
      return a.integer() < b.integer() ? -1 : (a.integer() > b.integer() ? 1 : 0);
    // Yes is -1 to the engine, so it sorts before No.
    case Value::Type::Boolean: return a.integer() == b.integer() ? 0 : (a.integer() != 0 ? -1 : 1);
    case Value::Type::Double:
    case Value::Type::DateTime: return CompareReal(a.real(), b.real());
    case Value::Type::Decimal: return CompareDecimal(a.text(), b.text());
    case Value::Type::Binary: return CompareBytes(a.text(), b.text());
    case Value::Type::Text: break;
  }
  return 0;
}

// The case-folded form of a text. Plain ASCII (most texts) folds to lower case byte by byte;
// anything else goes through Qt's full case folding.
std::string FoldedUtf8(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return QString::fromStdString(text).toCaseFolded().toStdString();
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

QString FoldedText(const std::string& text) { return QString::fromStdString(text).toCaseFolded(); }

bool IsText(const Value& v) { return v.type() == Value::Type::Text; }

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
      rowFolded_[i] = FoldedUtf8(row[i].text());
    } else {
      rowFolded_[i].clear();
      textOrNull = textOrNull && row[i].isNull();
    }
  }
  if (textOrNull) {
    std::size_t hash = row.size();
    for (std::size_t i = 0; i < row.size(); ++i)
      hash = hash * 1000003u ^ (row[i].isNull() ? std::size_t{0x9e3779b9u}
                                                : std::hash<std::string>()(rowFolded_[i]));
    if (used_ * 2 >= slots_.size()) grow();
    std::size_t mask = slots_.size() - 1;
    std::size_t s = hash & mask;
    for (; slots_[s].second != 0; s = (s + 1) & mask)
      if (slots_[s].first == hash && sameTexts(slots_[s].second - 1, row)) return;
    slots_[s] = {hash, rows_.size() + 1};
    ++used_;
  }
  starts_.push_back(folded_.size());
  for (std::size_t i = 0; i < row.size(); ++i) {
    folded_.push_back(std::move(rowFolded_[i]));
    null_.push_back(row[i].isNull());
  }
  rows_.push_back(row);
}

bool AccessDistinctRows::sameTexts(std::size_t kept, const std::vector<Value>& row) const {
  std::size_t start = starts_[kept];
  std::size_t end = kept + 1 < starts_.size() ? starts_[kept + 1] : folded_.size();
  if (end - start != row.size()) return false;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (null_[start + i] != row[i].isNull()) return false;
    if (!row[i].isNull() && folded_[start + i] != rowFolded_[i]) return false;
  }
  return true;
}

void AccessDistinctRows::grow() {
  std::vector<std::pair<std::size_t, std::size_t>> old(std::max<std::size_t>(64, slots_.size() * 2));
  old.swap(slots_);
  std::size_t mask = slots_.size() - 1;
  for (const auto& slot : old) {
    if (slot.second == 0) continue;
    std::size_t s = slot.first & mask;
    while (slots_[s].second != 0) s = (s + 1) & mask;
    slots_[s] = slot;
  }
}

std::vector<std::vector<Value>> AccessDistinctRows::take() {
  // Text order by collation sort keys worked out once per kept text, so that the sort compares
  // bytes; equal keys fall back on the code units of the folded texts, as TextOrder does.
  QCollator collator = TextOrder::MakeCollator();
  std::vector<QCollatorSortKey> keys;
  keys.reserve(folded_.size());
  const QCollatorSortKey none = collator.sortKey(QString());
  for (std::size_t r = 0; r < rows_.size(); ++r)
    for (std::size_t i = 0; i < rows_[r].size(); ++i) {
      const std::string& f = folded_[starts_[r] + i];
      keys.push_back(IsText(rows_[r][i]) ? collator.sortKey(QString::fromStdString(f)) : none);
    }

  auto compareFields = [&](std::size_t a, std::size_t b, const Value& va, const Value& vb) {
    bool nullA = va.isNull(), nullB = vb.isNull();
    if (nullA || nullB) return nullA == nullB ? 0 : (nullA ? -1 : 1);
    if (!IsText(va) || !IsText(vb)) return CompareNonText(va, vb);
    if (int c = keys[a].compare(keys[b])) return Sign(c);
    if (folded_[a] == folded_[b]) return 0;
    return Sign(QString::fromStdString(folded_[a]).compare(QString::fromStdString(folded_[b])));
  };
  auto compareRows = [&](std::size_t a, std::size_t b) {
    const std::vector<Value>& ra = rows_[a];
    const std::vector<Value>& rb = rows_[b];
    std::size_t n = std::min(ra.size(), rb.size());
    for (std::size_t i = 0; i < n; ++i)
      if (int c = compareFields(starts_[a] + i, starts_[b] + i, ra[i], rb[i])) return c;
    return Sign(static_cast<long long>(ra.size()) - static_cast<long long>(rb.size()));
  };

  std::vector<std::size_t> positions(rows_.size());
  std::iota(positions.begin(), positions.end(), std::size_t{0});
  // Stable, so that of equal rows the first one met leads its run and is the one kept.
  std::stable_sort(positions.begin(), positions.end(),
                   [&](std::size_t a, std::size_t b) { return compareRows(a, b) < 0; });

  std::vector<std::size_t> kept;
  kept.reserve(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i)
    if (i == 0 || compareRows(positions[i - 1], positions[i]) != 0) kept.push_back(positions[i]);
  // Move the rows out only once all comparing is done.
  std::vector<std::vector<Value>> distinct;
  distinct.reserve(kept.size());
  for (std::size_t p : kept) distinct.push_back(std::move(rows_[p]));
  *this = AccessDistinctRows();
  return distinct;
}

std::vector<std::vector<Value>> AccessDistinct(std::vector<std::vector<Value>> rows) {
  AccessDistinctRows distinct;
  for (const auto& row : rows) distinct.add(row);
  return distinct.take();
}

}  // namespace db
