#include "db/access_distinct.h"

#include <QCollator>
#include <QHash>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <numeric>
#include <string_view>
#include <unordered_set>

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
  TextOrder()
      : collator_(QLocale::system().language() == QLocale::C
                      ? QLocale(QLocale::English, QLocale::UnitedStates)
                      : QLocale::system()) {}

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

// A value with the case-folded form of its text worked out once.
struct Keyed {
  const Value* value;
  QString folded;
};

int CompareKeyed(const Keyed& a, const Keyed& b, const TextOrder& order) {
  bool nullA = a.value->isNull(), nullB = b.value->isNull();
  if (nullA || nullB) return nullA == nullB ? 0 : (nullA ? -1 : 1);
  if (a.value->type() == Value::Type::Text && b.value->type() == Value::Type::Text)
    return order.compare(a.folded, b.folded);
  return CompareNonText(*a.value, *b.value);
}

Keyed MakeKeyed(const Value& v) {
  Keyed k{&v, {}};
  if (v.type() == Value::Type::Text) k.folded = QString::fromStdString(v.text()).toCaseFolded();
  return k;
}

bool TextOrNull(const std::vector<Keyed>& row) {
  return std::all_of(row.begin(), row.end(), [](const Keyed& k) {
    return k.value->isNull() || k.value->type() == Value::Type::Text;
  });
}

// Positions of the rows in the order met, a row left out when an earlier one is equal to it.
// For rows of texts and Nulls only, equal means Null against Null and equal case-folded texts,
// which a hash finds without sorting every repeat; other rows are all kept (the sort and the
// walk over neighbours that follow drop their repeats).
std::vector<std::size_t> FirstOfEachText(const std::vector<std::vector<Keyed>>& keys) {
  std::vector<std::size_t> positions;
  positions.reserve(keys.size());
  if (!std::all_of(keys.begin(), keys.end(), TextOrNull)) {
    positions.resize(keys.size());
    std::iota(positions.begin(), positions.end(), std::size_t{0});
    return positions;
  }
  auto hash = [&](std::size_t p) {
    std::size_t h = keys[p].size();
    for (const Keyed& k : keys[p])
      h = h * 1000003u ^ (k.value->isNull() ? std::size_t{0x9e3779b9u} : qHash(k.folded));
    return h;
  };
  auto equal = [&](std::size_t a, std::size_t b) {
    if (keys[a].size() != keys[b].size()) return false;
    for (std::size_t i = 0; i < keys[a].size(); ++i) {
      const Keyed &ka = keys[a][i], &kb = keys[b][i];
      if (ka.value->isNull() != kb.value->isNull()) return false;
      if (!ka.value->isNull() && ka.folded != kb.folded) return false;
    }
    return true;
  };
  std::unordered_set<std::size_t, decltype(hash), decltype(equal)> seen(keys.size(), hash, equal);
  for (std::size_t p = 0; p < keys.size(); ++p)
    if (seen.insert(p).second) positions.push_back(p);
  return positions;
}

}  // namespace

int CompareAccessValues(const Value& a, const Value& b) {
  TextOrder order;
  return CompareKeyed(MakeKeyed(a), MakeKeyed(b), order);
}

std::vector<std::vector<Value>> AccessDistinct(std::vector<std::vector<Value>> rows) {
  std::vector<std::vector<Keyed>> keys;
  keys.reserve(rows.size());
  for (const auto& row : rows) {
    std::vector<Keyed> k;
    k.reserve(row.size());
    for (const Value& v : row) k.push_back(MakeKeyed(v));
    keys.push_back(std::move(k));
  }
  TextOrder order;
  auto compareRows = [&](std::size_t a, std::size_t b) {
    std::size_t n = std::min(keys[a].size(), keys[b].size());
    for (std::size_t i = 0; i < n; ++i)
      if (int c = CompareKeyed(keys[a][i], keys[b][i], order)) return c;
    return Sign(static_cast<long long>(keys[a].size()) - static_cast<long long>(keys[b].size()));
  };

  std::vector<std::size_t> positions = FirstOfEachText(keys);
  // Stable, so that of equal rows the first one met leads its run and is the one kept.
  std::stable_sort(positions.begin(), positions.end(),
                   [&](std::size_t a, std::size_t b) { return compareRows(a, b) < 0; });

  std::vector<std::size_t> kept;
  for (std::size_t i = 0; i < positions.size(); ++i)
    if (i == 0 || compareRows(positions[i - 1], positions[i]) != 0) kept.push_back(positions[i]);
  // The keys point into `rows`: move the rows out only once all comparing is done.
  std::vector<std::vector<Value>> distinct;
  distinct.reserve(kept.size());
  for (std::size_t p : kept) distinct.push_back(std::move(rows[p]));
  return distinct;
}

}  // namespace db
