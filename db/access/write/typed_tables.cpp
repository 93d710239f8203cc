#include "db/access/write/typed_tables.h"

#include <QString>
#include <cmath>
#include <cstring>
#include <limits>

#include "db/base/error.h"
#include "db/access/write/index_key.h"
#include "db/base/names.h"

namespace db::access::write {
namespace {

std::u16string Utf16(const std::string& utf8) {
  return QString::fromStdString(utf8).toStdU16String();
}

[[noreturn]] void Refuse(const TdefColumn& column, const std::string& why) {
  throw Error(errc::kFailed,
              "Field '" + QString::fromStdU16String(column.name).toStdString() + "': " + why);
}

}  // namespace

RowValue EncodeFixedOrText(const TdefColumn& column, const Value& value) {
  if (column.type == coltype::kBoolean) {
    if (value.isNull()) return Bytes{0};
    if (value.type() != Value::Type::Boolean && value.type() != Value::Type::Integer)
      Refuse(column, "a Yes/No field takes only Yes or No.");
    return Bytes{static_cast<unsigned char>(value.integer() != 0)};
  }
  if (value.isNull()) return std::nullopt;
  switch (column.type) {
    case coltype::kText: {
      if (value.type() != Value::Type::Text) Refuse(column, "a Text field takes only text.");
      std::u16string text = Utf16(value.text());
      if (text.size() > static_cast<std::size_t>(column.length / 2)) RefuseTooLong();
      return EncodeText(text, column.compressed());
    }
    case coltype::kLong: {
      if (value.type() != Value::Type::Integer)
        Refuse(column, "a Long Integer field takes only whole numbers.");
      std::int64_t v = value.integer();
      if (v < std::numeric_limits<std::int32_t>::min() ||
          v > std::numeric_limits<std::int32_t>::max())
        Refuse(column, "the number is out of the range of a Long Integer.");
      Bytes out(4);
      Put32(out.data(), static_cast<std::uint32_t>(static_cast<std::int32_t>(v)));
      return out;
    }
    case coltype::kDouble: {
      double v;
      if (value.type() == Value::Type::Double)
        v = value.real();
      else if (value.type() == Value::Type::Integer)
        v = static_cast<double>(value.integer());
      else
        Refuse(column, "a Double field takes only numbers.");
      if (!std::isfinite(v)) Refuse(column, "the number is not finite.");
      return DoubleBytes(v);
    }
    case coltype::kDateTime: {
      if (value.type() != Value::Type::DateTime)
        Refuse(column, "a Date/Time field takes only dates.");
      if (!std::isfinite(value.real())) Refuse(column, "the date is not valid.");
      return DoubleBytes(value.real());
    }
    default:
      Refuse(column, "writing to a field of this type is not supported.");
  }
}

TypedTables::TypedTables(PageIo& io, std::function<double()> clock)
    : io_(io),
      clock_(std::move(clock)),
      pages_(io),
      catalog_(io, pages_),
      longValues_(io, pages_) {}

TableRows& TypedTables::rowsOf(std::uint32_t definitionPage) {
  auto it = tables_.find(definitionPage);
  if (it == tables_.end())
    it = tables_.emplace(definitionPage, std::make_unique<TableRows>(io_, pages_, definitionPage))
             .first;
  return *it->second;
}

std::uint32_t TypedTables::create(const std::u16string& name,
                                  const std::vector<NewColumnDef>& columns) {
  std::string utf8 = QString::fromStdU16String(name).toStdString();
  std::string why;
  auto invalid = [](const std::string& what) {
    throw Error(errc::kFailed,
                "'" + what +
                    "' is not a valid name. Make sure that it does not include "
                    "invalid characters or punctuation and that it is not too long.");
  };
  if (!ValidTableName(name, &why) || !CanEncodeIndexText(utf8, TextCollation::kGeneral) ||
      !CanEncodeIndexText(utf8, TextCollation::kGeneralLegacy))
    invalid(utf8);
  if (catalog_.findInTables(name))
    throw Error(errc::kFailed, "Table '" + utf8 + "' already exists.");
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (!ValidTableName(columns[i].name, &why))
      invalid(QString::fromStdU16String(columns[i].name).toStdString());
    for (std::size_t k = 0; k < i; ++k)
      if (SameName(columns[k].name, columns[i].name))
        throw Error(errc::kFailed, "Field '" +
                                       QString::fromStdU16String(columns[i].name).toStdString() +
                                       "' is defined more than once.");
    if (columns[i].type == coltype::kText && (columns[i].length < 1 || columns[i].length > 255))
      throw Error(errc::kSyntax, "The size of a Text field is 1 to 255 characters.");
  }

  NewTableDef def;
  def.columns = columns;
  std::size_t longValueColumns = 0;
  for (const NewColumnDef& c : columns) longValueColumns += IsLongValueType(c.type) ? 1 : 0;
  def.longValueMaps.resize(longValueColumns);
  // Checked before the first page is taken.
  BuildTableDef(io_.pageSize(), def);

  std::uint32_t definition = pages_.allocate(Bytes(io_.pageSize(), 0));
  Bytes mapPage = NewDataPage(io_.pageSize(), 0);
  std::size_t mapRows = 2 + 2 * longValueColumns;
  for (std::size_t i = 0; i < mapRows; ++i) InsertDataRow(mapPage, NewInlineMapRow());
  std::uint32_t maps = pages_.allocate(mapPage);
  def.owned = {maps, 0};
  def.freeSpace = {maps, 1};
  for (std::size_t i = 0; i < longValueColumns; ++i)
    def.longValueMaps[i] = {RowRef{maps, unsigned(2 + 2 * i)}, RowRef{maps, unsigned(3 + 2 * i)}};
  io_.writePage(definition, BuildTableDef(io_.pageSize(), def));
  catalog_.addTable(definition, name, clock_());
  catalog_.flush();
  return definition;
}

void TypedTables::insert(std::uint32_t definitionPage, const std::vector<Value>& row) {
  TableRows& table = rowsOf(definitionPage);
  const TableDef& def = table.def();
  if (row.size() != def.columns.size())
    throw Error(errc::kFailed, "Number of query values and destination fields are not the same.");
  // Every value is encoded and checked before a long value takes a page.
  std::vector<RowValue> values;
  for (std::size_t i = 0; i < row.size(); ++i) {
    const TdefColumn& column = def.columns[i];
    if (column.type != coltype::kMemo) {
      values.push_back(EncodeFixedOrText(column, row[i]));
    } else if (row[i].isNull()) {
      values.emplace_back(std::nullopt);
    } else {
      if (row[i].type() != Value::Type::Text) Refuse(column, "a Memo field takes only text.");
      values.emplace_back(EncodeMemoText(column, Utf16(row[i].text())));
      CheckLongValueLength(values.back()->size());
    }
  }
  for (std::size_t i = 0; i < row.size(); ++i)
    if (def.columns[i].type == coltype::kMemo && values[i])
      values[i] = longValues_.store(def, def.columns[i], *values[i]);
  table.insert(values);
}

void TypedTables::flush() {
  for (auto& [page, rows] : tables_) rows->flush();
  catalog_.flush();
}

}  // namespace db::access::write
