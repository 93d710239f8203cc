#include "db/access/read/catalog_reader.h"

#include <QString>
#include <utility>

#include "db/access/format/catalog.h"
#include "db/access/format/pages.h"
#include "db/base/error.h"
#include "db/access/read/table_reader.h"
#include "db/base/names.h"

namespace db::access::read {
std::vector<AccessObject> ReadAccessCatalog(const JetDatabase& db) {
  JetTable table(db, kCatalogName, kCatalogPage);
  std::vector<std::size_t> fields;
  for (const char* name : {"Id", "Name", "Type", "Flags"}) {
    std::optional<std::size_t> f = table.findField(name);
    if (!f) db.damaged(std::string("the catalogue has no field ") + name);
    fields.push_back(*f);
  }
  std::vector<AccessObject> objects;
  std::vector<std::pair<std::string, std::int64_t>> unknownTypes;  // name and Id
  std::vector<Value> row;
  while (table.next(fields, row)) {
    const Value &id = row[0], &name = row[1], &type = row[2], &flags = row[3];
    if (id.type() != Value::Type::Integer || name.type() != Value::Type::Text ||
        type.type() != Value::Type::Integer || name.text().empty())
      continue;  // rows that describe no object
    if (!object_type::IsKnown(type.integer())) unknownTypes.emplace_back(name.text(), id.integer());
    AccessObject object;
    object.name = name.text();
    object.type = static_cast<int>(type.integer() & 0x7F);
    object.flags =
        flags.type() == Value::Type::Integer ? static_cast<std::uint32_t>(flags.integer()) : 0;
    object.page = static_cast<std::uint32_t>(id.integer()) & 0xFFFFFF;
    objects.push_back(std::move(object));
  }
  // Every catalogue lists itself. Without that row the catalogue's pages or rows are damaged,
  // and whatever else was read from them is no list of the file's tables.
  bool listsItself = false;
  for (const AccessObject& object : objects)
    listsItself =
        listsItself || (object.type == object_type::kLocalTable && object.page == kCatalogPage &&
                        SameName(object.name, kCatalogName));
  if (!listsItself) db.damaged("the catalogue's rows cannot be read");
  // A row of no type Access writes is left out, unless its Id names a table's definition: then
  // it is the row of a table whose type was damaged, and leaving it out would hide the table.
  for (const auto& [name, id] : unknownTypes) {
    if (id <= 0 || !db.hasPage(static_cast<std::uint64_t>(id))) continue;
    if (db.copyPage(static_cast<std::uint32_t>(id))[0] == kDefinitionPage)
      db.damaged("the catalogue's row of '" + name + "', a table, has an unknown object type");
  }
  return objects;
}

std::optional<std::string> CatalogType(const AccessObject& object) {
  using namespace object_type;
  switch (object.type) {
    case kLocalTable:
      if (object.flags & kSystemObjectFlag) return "SYSTEM TABLE";
      if (object.flags & kAccessObjectFlag) return "ACCESS TABLE";
      if (StartsWithIgnoringCase(object.name, kSystemTablePrefix)) return "SYSTEM TABLE";
      if (StartsWithIgnoringCase(object.name, kTemporaryTablePrefix)) return "LOCAL TEMPORARY";
      return "TABLE";
    case kLinkedTable:
      return "LINK";
    case kOdbcLinkedTable:
      return "PASS-THROUGH";
    case kQuery:
      return "VIEW";
    default:
      return std::nullopt;
  }
}

const AccessObject& FindReadableTable(const std::vector<AccessObject>& catalog,
                                      const std::string& name) {
  using namespace object_type;
  const AccessObject* other = nullptr;
  for (const AccessObject& object : catalog) {
    if (!SameName(object.name, name)) continue;
    if (object.type == kLocalTable) return object;
    if (object.type == kQuery || object.type == kLinkedTable || object.type == kOdbcLinkedTable)
      other = &object;
  }
  if (other) {
    const char* what = other->type == kQuery ? "saved query" : "linked table";
    throw Error(errc::kNotSupported, std::string("Reading the ") + what + " '" + other->name +
                                         "' is not supported yet.");
  }
  throw Error(errc::kNoSuchObject,
              "The input table or query '" + name +
                  "' cannot be found. Make sure it exists and that its name is "
                  "spelled correctly.");
}

}  // namespace db::access::read
