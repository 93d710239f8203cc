// The catalog: the system table MSysObjects, whose definition starts on page 2, lists every
// object of the file, one row each: Id (its low 24 bits are the definition page of a table),
// ParentId (the container: 0x0F000000 for the root containers, Tables 0x0F000001 and so on),
// Name, Type (1 local table, 2 database, 3 container, 4 table linked through ODBC, 5 saved
// query, 6 linked table; others are forms, relationships and the like) and Flags (0x80000000
// system object, 0x2 object of Access itself).
#pragma once

#include <cstdint>

namespace db::access::format {

constexpr std::uint32_t kCatalogPage = 2;
constexpr char kCatalogName[] = "MSysObjects";

// Ids of the fixed objects.
constexpr std::int32_t kRootContainerId = 0x0F000000;
constexpr std::int32_t kTablesContainerId = 0x0F000001;
constexpr std::int32_t kDatabasesContainerId = 0x0F000002;
constexpr std::int32_t kRelationshipsContainerId = 0x0F000003;
constexpr std::int32_t kDatabaseObjectId = 0x10000000;

// Object types (column Type).
namespace object_type {
constexpr int kLocalTable = 1;
constexpr int kDatabase = 2;
constexpr int kContainer = 3;
constexpr int kOdbcLinkedTable = 4;
constexpr int kQuery = 5;
constexpr int kLinkedTable = 6;

// Whether Type holds a value Access writes: the engine's own kinds are small positive numbers,
// those of Access itself (forms, reports, macros, modules, users, layouts...) 0x8000 and a small
// number, which read as a 16-bit Integer from -32768 up.
constexpr bool IsKnown(std::int64_t type) {
  return (type >= 1 && type <= 15) || (type >= -32768 && type <= -32740);
}
}  // namespace object_type

// Names that start with these (letter case ignored) are those of Access's own tables: system
// tables ("MSys") and temporary ones ("~", such as the ~TMPCLP tables Access leaves behind).
// Readers list them apart from the user's tables; the writer neither makes nor fills them.
constexpr char kSystemTablePrefix[] = "MSys";
constexpr char kTemporaryTablePrefix[] = "~";

// Object flags (column Flags).
constexpr std::uint32_t kSystemObjectFlag = 0x80000000;
constexpr std::uint32_t kAccessObjectFlag = 0x2;

}  // namespace db::access::format
