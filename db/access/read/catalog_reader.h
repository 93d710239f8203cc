// The objects of an Access file as its catalog lists them (db/access/format/catalog.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/access/read/database.h"

namespace db::access::read {

struct AccessObject {
  std::string name;
  int type = 0;
  std::uint32_t flags = 0;
  std::uint32_t page = 0;
  bool operator==(const AccessObject&) const = default;
};

// Every object of the file, in the catalogue's own order. Throws db::Error when it is damaged:
// its definition or pages cannot be read, or its rows do not include its own (MSysObjects, a
// local table defined on page 2), which every catalogue holds.
std::vector<AccessObject> ReadAccessCatalog(const JetDatabase& db);

// The table type under which the tables rowset of the OLE DB Jet provider lists `object`:
// "TABLE" only for the user's own local tables; "SYSTEM TABLE", "ACCESS TABLE", "LOCAL
// TEMPORARY" (names starting with "~", such as ~TMPCLP tables), "LINK", "PASS-THROUGH" and
// "VIEW" for the rest. Nothing for objects that are not tables or queries.
std::optional<std::string> CatalogType(const AccessObject& object);

// The local table named `name` (letter case ignored) that a query can read. Throws
// errc::kNoSuchObject when there is none, errc::kNotSupported for a saved query or a linked
// table of that name.
const AccessObject& FindReadableTable(const std::vector<AccessObject>& catalog,
                                      const std::string& name);

}  // namespace db::access::read
