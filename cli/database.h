// Opening the database a command names, and finding its table and field, with the failures
// turned into the exit codes of exit_codes.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/environment.h"
#include "db/connection.h"

namespace cli {

struct OpenDatabase {
  std::unique_ptr<db::Connection> connection;
  std::string connectionString;  // with the password that was accepted
};

// Opens `request.database` in `mode`. The password is, in this order: --password, the variable
// ROWSIFTER_PASSWORD, or an answer to the prompt (asked first with --ask-password; otherwise
// only when none was given, standard input is a terminal and the database refuses the empty
// password). Throws Failure: kFileMissing when the file is missing or unreadable, kCannotOpen
// when the database refuses to open.
OpenDatabase Open(const Request& request, Environment& env, db::OpenMode mode);

// Names of the user tables, in catalogue order.
std::vector<std::string> UserTables(db::Connection& connection);

// The stored name of the user table named `name` (an exact match first, then one that differs
// only in letter case). Throws Failure (kNotFound).
std::string FindTable(db::Connection& connection, const std::string& name);

// Field names of `table`, in table order.
std::vector<std::string> FieldNames(db::Connection& connection, const std::string& table);

// The stored name of the field `name` of `table`, matched like FindTable. Throws Failure.
std::string FindField(db::Connection& connection, const std::string& table,
                      const std::string& name);

// The message for a database failure: its description and, when it has one, its number.
std::string Describe(const db::Error& error);

}  // namespace cli
