#include "tests/support/outside_readers.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/access/read/libmdb.h"
#include "db/base/value.h"

namespace fs = std::filesystem;

namespace testsupport {
namespace {

// ---- numbers and dates in the shared text form ---------------------------------------------

// Digits and decimal exponent of a number written as "[-]d.ddde[+-]x", expanded plainly.
std::string ExpandScientific(const std::string& text) {
  std::size_t e = text.find('e');
  std::string mantissa = text.substr(0, e);
  int exponent = e == std::string::npos ? 0 : std::atoi(text.c_str() + e + 1);
  bool negative = !mantissa.empty() && mantissa[0] == '-';
  if (negative) mantissa.erase(0, 1);
  std::size_t dot = mantissa.find('.');
  std::string digits = mantissa;
  int point = static_cast<int>(dot == std::string::npos ? mantissa.size() : dot);
  if (dot != std::string::npos) digits.erase(dot, 1);
  point += exponent;
  if (point <= 0) {
    digits.insert(0, static_cast<std::size_t>(1 - point), '0');
    point = 1;
  } else if (static_cast<std::size_t>(point) > digits.size()) {
    digits.append(static_cast<std::size_t>(point) - digits.size(), '0');
  }
  return CanonicalDecimal((negative ? "-" : "") + digits.substr(0, point) + "." +
                          digits.substr(point));
}

std::string Hex(const void* data, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  const auto* p = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// A number printed by C code, whatever the decimal separator of the locale it ran in.
double ParseNumber(std::string text) {
  if (text.find('.') == std::string::npos) std::replace(text.begin(), text.end(), ',', '.');
  double value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc()) throw std::runtime_error("libmdb: not a number: '" + text + "'");
  return value;
}

// ---- running node ----------------------------------------------------------------------------

fs::path NodeDir() {
  if (const char* env = std::getenv("ROWSIFTER_NODE_DIR"); env && *env) return env;
  return fs::path(__FILE__).parent_path().parent_path() / "node";
}

std::string NodeProgram() {
  if (const char* env = std::getenv("ROWSIFTER_NODE"); env && *env) return env;
  return "node";
}

struct RunResult {
  int status = -1;  // exit code, or -1 when the program could not be run or was killed
  std::string out, err;
};

// Runs a program (looked up in PATH) without a shell and collects what it prints.
RunResult Run(const std::vector<std::string>& args) {
  int out[2], err[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  if (pipe(err) != 0) {
    close(out[0]);
    close(out[1]);
    throw std::runtime_error("pipe failed");
  }
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    close(out[1]);
    close(err[1]);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  RunResult result;
  if (pid < 0) {
    close(out[0]);
    close(err[0]);
    return result;
  }
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::optional<std::string> Text(const QJsonValue& v) {
  if (v.isNull() || v.isUndefined()) return std::nullopt;
  return v.toString().toStdString();
}

// ---- libmdb --------------------------------------------------------------------------------

std::string LibmdbTypeName(int type) {
  switch (type) {
    case MDB_BOOL:
      return "boolean";
    case MDB_BYTE:
      return "byte";
    case MDB_INT:
      return "integer";
    case MDB_LONGINT:
      return "long";
    case MDB_MONEY:
      return "currency";
    case MDB_FLOAT:
      return "float";
    case MDB_DOUBLE:
      return "double";
    case MDB_DATETIME:
      return "datetime";
    case MDB_BINARY:
      return "binary";
    case MDB_TEXT:
      return "text";
    case MDB_OLE:
      return "ole";
    case MDB_MEMO:
      return "memo";
    case MDB_REPID:
      return "repid";
    case MDB_NUMERIC:
      return "numeric";
    case MDB_COMPLEX:
      return "complex";
    case 0x13:
      return "bigint";
    case 0x14:
      return "datetimextended";
    default:
      return "type " + std::to_string(type);
  }
}

constexpr std::size_t kBindSize = 1 << 20;
// libmdb converts every value into a fresh buffer of the bind size. A table without memo or OLE
// columns has no value longer than a text of 255 characters, so its buffers are kept small:
// megabyte buffers, one a value, make reading large tables slow, and many times slower under
// AddressSanitizer, whose allocator maps and unmaps each one.
constexpr std::size_t kShortBindSize = 16 << 10;

std::size_t BindSizeFor(MdbTableDef* table) {
  for (unsigned i = 0; i < table->num_cols; ++i) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    if (col->col_type == MDB_MEMO || col->col_type == MDB_OLE) return kBindSize;
  }
  return kShortBindSize;
}

std::optional<std::string> LibmdbValue(MdbHandle* mdb, MdbColumn* col, const std::string& bound) {
  switch (col->col_type) {
    case MDB_BOOL:
      return bound == "0" ? "false" : "true";
    case MDB_COMPLEX:
      return std::nullopt;
    default:
      break;
  }
  if (bound.empty()) return std::nullopt;  // null, or an empty text (libmdb cannot tell)
  switch (col->col_type) {
    case MDB_MONEY:
    case MDB_NUMERIC:
      return CanonicalDecimal(bound);
    case MDB_FLOAT:
      return PlainNumberText(ParseNumber(bound), true);
    case MDB_DOUBLE:
      return PlainNumberText(ParseNumber(bound), false);
    case MDB_REPID:
      return Upper(bound);
    case MDB_BINARY:
      return Hex(bound.data(), bound.size());
    case MDB_OLE: {
      std::size_t size = 0;
      void* data = mdb_ole_read_full(mdb, col, &size);
      std::string hex = Hex(data, data ? size : 0);
      g_free(data);
      return hex;
    }
    default:
      return bound;
  }
}

ReadTable LibmdbTable(MdbHandle* mdb, MdbCatalogEntry* entry) {
  ReadTable out;
  out.name = entry->object_name;
  MdbTableDef* table = mdb_read_table(entry);
  if (!table) throw std::runtime_error("libmdb cannot read table '" + out.name + "'");
  std::unique_ptr<MdbTableDef, void (*)(MdbTableDef*)> owner(table, mdb_free_tabledef);
  if (!mdb_read_columns(table))
    throw std::runtime_error("libmdb cannot read the columns of '" + out.name + "'");
  mdb_rewind_table(table);
  const std::size_t bindSize = BindSizeFor(table);
  mdb_set_bind_size(mdb, bindSize);
  std::vector<std::vector<char>> buffers(table->num_cols, std::vector<char>(bindSize));
  std::vector<int> lengths(table->num_cols);
  for (unsigned i = 0; i < table->num_cols; ++i) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    out.columns.push_back({col->name, LibmdbTypeName(col->col_type)});
    mdb_bind_column(table, static_cast<int>(i + 1), buffers[i].data(), &lengths[i]);
  }
  while (mdb_fetch_row(table)) {
    ReadRow row;
    for (unsigned i = 0; i < table->num_cols; ++i) {
      auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
      std::size_t length = std::min<std::size_t>(std::max(lengths[i], 0), bindSize);
      row.push_back(LibmdbValue(mdb, col, std::string(buffers[i].data(), length)));
    }
    out.rows.push_back(std::move(row));
  }
  return out;
}

// ---- our layer -----------------------------------------------------------------------------

std::optional<std::string> LayerValue(const db::Value& v) {
  using T = db::Value::Type;
  switch (v.type()) {
    case T::Null:
      return std::nullopt;
    case T::Text:
      return v.text();
    case T::Integer:
      return std::to_string(v.integer());
    case T::Double:
      return PlainNumberText(v.real(), false);
    case T::Decimal:
      return CanonicalDecimal(v.text());
    case T::Currency: {
      std::int64_t n = v.integer();
      std::string digits = std::to_string(n < 0 ? -(n / 10000) : n / 10000);
      std::string fraction = std::to_string(std::llabs(n % 10000));
      fraction.insert(0, 4 - fraction.size(), '0');
      return CanonicalDecimal((n < 0 ? "-" : "") + digits + "." + fraction);
    }
    case T::DateTime:
      return OleDateText(v.real());
    case T::Boolean:
      return v.integer() ? "true" : "false";
    case T::Binary:
      return Hex(v.text().data(), v.text().size());
  }
  return std::nullopt;
}

void SortTables(ReadDatabase& db) {
  std::stable_sort(db.tables.begin(), db.tables.end(),
                   [](const ReadTable& a, const ReadTable& b) { return a.name < b.name; });
}

std::string Shown(const std::optional<std::string>& v) {
  return v ? "\"" + *v + "\"" : std::string("null");
}

}  // namespace

// ---- shared text form ------------------------------------------------------------------------

std::string CanonicalDecimal(const std::string& text) {
  bool negative = !text.empty() && text[0] == '-';
  std::string body = negative || (!text.empty() && text[0] == '+') ? text.substr(1) : text;
  std::size_t dot = body.find('.');
  std::string whole = body.substr(0, dot);
  std::string fraction = dot == std::string::npos ? "" : body.substr(dot + 1);
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  if (whole.empty()) whole = "0";
  fraction.erase(fraction.find_last_not_of('0') + 1);
  if (whole == "0" && fraction.empty()) negative = false;
  return (negative ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);
}

std::string PlainNumberText(double value, bool single) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  char buf[64];
  auto end = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(value),
                                    std::chars_format::scientific)
                    : std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  return ExpandScientific(std::string(buf, end.ptr));
}

std::string OleDateText(double oleDate) {
  // The whole part counts days from 1899-12-30 (backwards when negative); the fraction is the
  // time of that day whatever the sign, so -1.25 is 1899-12-29 06:00.
  constexpr long long kUnixEpochOle = 25569;
  double whole = std::trunc(oleDate);
  double fraction = std::fabs(oleDate - whole);
  long long total = (static_cast<long long>(whole) - kUnixEpochOle) * 86400000 +
                    static_cast<long long>(std::floor(fraction * 86400000.0 + 0.5));
  long long days = total >= 0 ? total / 86400000 : -((-total + 86400000 - 1) / 86400000);
  long long inDay = total - days * 86400000;
  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  long long z = days + 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long day = doy - (153 * mp + 2) / 5 + 1;
  long long month = mp < 10 ? mp + 3 : mp - 9;
  long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", year, month, day,
                inDay / 3600000, inDay / 60000 % 60, inDay / 1000 % 60);
  std::string text = buf;
  if (inDay % 1000 != 0) {
    std::snprintf(buf, sizeof buf, ".%03lld", inDay % 1000);
    text += buf;
  }
  return text;
}

const ReadTable* ReadDatabase::find(const std::string& name) const {
  for (const ReadTable& t : tables)
    if (t.name == name) return &t;
  return nullptr;
}

// ---- the readers ---------------------------------------------------------------------------

std::optional<std::string> MdbReaderUnavailable() {
  static std::once_flag once;
  static std::optional<std::string> why;
  std::call_once(once, [] {
    if (!fs::exists(NodeDir() / "node_modules" / "mdb-reader" / "package.json")) {
      why = "the package is not installed in " + NodeDir().string() +
            " (run npm ci --prefix tests/node)";
      return;
    }
    RunResult r = Run({NodeProgram(), "--version"});
    if (r.status != 0) why = "'" + NodeProgram() + "' cannot be run";
  });
  return why;
}

ReadDatabase ReadWithMdbReader(const std::string& path, const std::string& password) {
  if (auto why = MdbReaderUnavailable()) throw std::runtime_error("mdb-reader: " + *why);
  std::vector<std::string> args{NodeProgram(), (NodeDir() / "dump.mjs").string(), path};
  if (!password.empty()) args.push_back(password);
  RunResult r = Run(args);
  if (r.status != 0)
    throw std::runtime_error("mdb-reader failed (exit " + std::to_string(r.status) + "): " + r.err);
  QJsonParseError error{};
  QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
  if (doc.isNull())
    throw std::runtime_error("mdb-reader printed no JSON: " + error.errorString().toStdString());
  ReadDatabase out;
  for (const QJsonValue& t : doc.object().value("tables").toArray()) {
    QJsonObject o = t.toObject();
    ReadTable table;
    table.name = o.value("name").toString().toStdString();
    for (const QJsonValue& c : o.value("columns").toArray())
      table.columns.push_back({c.toObject().value("name").toString().toStdString(),
                               c.toObject().value("type").toString().toStdString()});
    for (const QJsonValue& r : o.value("rows").toArray()) {
      ReadRow row;
      for (const QJsonValue& v : r.toArray()) row.push_back(Text(v));
      table.rows.push_back(std::move(row));
    }
    out.tables.push_back(std::move(table));
  }
  SortTables(out);
  return out;
}

ReadDatabase ReadWithLibmdb(const std::string& path) {
  MdbHandle* mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
  if (!mdb) throw std::runtime_error("libmdb cannot open '" + path + "'");
  std::unique_ptr<MdbHandle, void (*)(MdbHandle*)> owner(mdb, mdb_close);
  mdb_set_date_fmt(mdb, "%Y-%m-%d %H:%M:%S");
  mdb_set_boolean_fmt_numbers(mdb);
  mdb_set_bind_size(mdb, kBindSize);
  if (!mdb_read_catalog(mdb, MDB_TABLE))
    throw std::runtime_error("libmdb cannot read the catalogue of '" + path + "'");
  ReadDatabase out;
  for (unsigned i = 0; i < mdb->num_catalog; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (entry->object_type != MDB_TABLE || mdb_is_system_table(entry)) continue;
    out.tables.push_back(LibmdbTable(mdb, entry));
  }
  SortTables(out);
  return out;
}

ReadDatabase ReadWithOurLayer(const std::string& path, const std::string& password) {
  db::Connection connection;
  connection.setMode(db::OpenMode::Read);
  connection.open(db::BuildConnectionString(path, password));
  ReadDatabase out;
  for (const db::CatalogRow& entry : connection.tables()) {
    if (entry.type != "TABLE" && entry.type != "LOCAL TEMPORARY") continue;
    ReadTable table;
    table.name = entry.name;
    std::string quoted =
        entry.name.find(']') == std::string::npos ? "[" + entry.name + "]" : "`" + entry.name + "`";
    std::unique_ptr<db::Recordset> rs = connection.openRecordset("SELECT * FROM " + quoted);
    for (int i = 0; i < rs->fieldCount(); ++i) table.columns.push_back({rs->fieldName(i), ""});
    for (; !rs->eof(); rs->moveNext()) {
      ReadRow row;
      for (int i = 0; i < rs->fieldCount(); ++i) row.push_back(LayerValue(rs->value(i)));
      table.rows.push_back(std::move(row));
    }
    out.tables.push_back(std::move(table));
  }
  SortTables(out);
  return out;
}

ReadDatabase BlankAsNull(ReadDatabase db) {
  for (ReadTable& t : db.tables)
    for (ReadRow& row : t.rows)
      for (auto& v : row)
        if (v && v->empty()) v.reset();
  return db;
}

ReadDatabase WithoutTypes(ReadDatabase db) {
  for (ReadTable& t : db.tables)
    for (ReadColumn& c : t.columns) c.type.clear();
  return db;
}

namespace {
std::string AsLibmdbReadsText(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    out += n == 4 ? std::string("??") : utf8.substr(i, n);
    i += n;
  }
  return out;
}
}  // namespace

ReadDatabase AsLibmdbReadsIt(ReadDatabase db) {
  for (ReadTable& t : db.tables) {
    t.name = AsLibmdbReadsText(t.name);
    for (auto& row : t.rows)
      for (auto& v : row)
        if (v) v = AsLibmdbReadsText(*v);
  }
  std::sort(db.tables.begin(), db.tables.end(),
            [](const ReadTable& a, const ReadTable& b) { return a.name < b.name; });
  return db;
}

std::optional<std::string> FirstDifference(const ReadDatabase& a, const ReadDatabase& b,
                                           const std::string& what) {
  auto names = [](const ReadDatabase& db) {
    std::string s;
    for (const ReadTable& t : db.tables) s += (s.empty() ? "" : ", ") + t.name;
    return "[" + s + "]";
  };
  if (a.tables.size() != b.tables.size())
    return what + ": tables " + names(a) + " against " + names(b);
  for (std::size_t t = 0; t < a.tables.size(); ++t) {
    const ReadTable &x = a.tables[t], &y = b.tables[t];
    if (x.name != y.name) return what + ": tables " + names(a) + " against " + names(b);
    std::string where = what + ": table '" + x.name + "'";
    if (x.columns.size() != y.columns.size())
      return where + ": " + std::to_string(x.columns.size()) + " columns against " +
             std::to_string(y.columns.size());
    // Columns are matched by name: see the header on the order of columns.
    std::vector<std::size_t> match;
    for (const ReadColumn& column : x.columns) {
      auto found = std::find_if(y.columns.begin(), y.columns.end(),
                                [&](const ReadColumn& c) { return c.name == column.name; });
      if (found == y.columns.end())
        return where + ": column '" + column.name + "' only in the first";
      if (found->type != column.type)
        return where + " column '" + column.name + "': type " + column.type + " against " +
               found->type;
      match.push_back(static_cast<std::size_t>(found - y.columns.begin()));
    }
    if (x.rows.size() != y.rows.size())
      return where + ": " + std::to_string(x.rows.size()) + " rows against " +
             std::to_string(y.rows.size());
    for (std::size_t r = 0; r < x.rows.size(); ++r)
      for (std::size_t c = 0; c < x.columns.size(); ++c) {
        std::optional<std::string> u, v;
        if (c < x.rows[r].size()) u = x.rows[r][c];
        if (match[c] < y.rows[r].size()) v = y.rows[r][match[c]];
        if (u != v)
          return where + " row " + std::to_string(r) + " column '" + x.columns[c].name +
                 "': " + Shown(u) + " against " + Shown(v);
      }
  }
  return std::nullopt;
}

}  // namespace testsupport
