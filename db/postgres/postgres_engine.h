// The engine for PostgreSQL servers (libpq), and for the servers that speak its protocol. The
// "file" it opens is a connection file (connection_file.h) naming the server, the database and
// the schema; the statements of db/statements.h reach the server in its dialect (dialect.h).
//
// What the server does, not the client:
//   - the catalogue lists the ordinary and partitioned tables (type TABLE), views and
//     materialised views (VIEW) and foreign tables (LINK) of the connection file's schema, or of
//     the first schema of the search path; partitions are reached through their parent;
//   - a query is a cursor inside a transaction, its rows fetched in batches, and its row count
//     is counted by the server in the same snapshot (repeatable read);
//   - the rows of consecutive inserts into one table go to the server in bulk (COPY), sent
//     before any other statement, a fetch or the commit;
//   - any failure inside a transaction ends it on the server: the statements after it are
//     refused (errc::kTransactionEnded) and the commit keeps nothing.
// Values are handed out as the text the server gives (in UTF-8); Null stays Null.
#pragma once

#include <memory>
#include <string>

#include "db/base/engine.h"

namespace db {

// Connects to the server named by the connection file at `path`. `password`, when not empty,
// is the user's password; otherwise libpq finds one where it looks by itself (PGPASSWORD, the
// password file). Read mode makes every transaction read-only. Throws db::Error
// (errc::kWrongPassword for a password the server refuses or needs).
std::unique_ptr<Session> OpenPostgresSession(const std::string& path, const std::string& password,
                                             OpenMode mode);

}  // namespace db
