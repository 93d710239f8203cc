#include "cli/database.h"

#include <QString>

#include <filesystem>
#include <fstream>

#include "cli/exit_codes.h"
#include "db/connection_string.h"
#include "db/base/error.h"
#include "db/statements.h"
#include "db/base/names.h"

namespace cli {
namespace {

constexpr char kUserTable[] = "TABLE";

// The entry of `names` equal to `name`, else the one equal to it ignoring case, else nothing.
const std::string* Match(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names)
    if (n == name) return &n;
  for (const std::string& n : names)
    if (db::SameName(n, name)) return &n;
  return nullptr;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
  return text.empty() ? "(none)" : text;
}

void CheckReadable(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status))
    throw Failure(exitcode::kFileMissing, "no such database file: '" + path + "'.");
  if (std::filesystem::is_directory(status))
    throw Failure(exitcode::kFileMissing, "'" + path + "' is a folder, not a database file.");
  std::ifstream probe(path, std::ios::binary);
  if (!probe)
    throw Failure(exitcode::kFileMissing, "the database file '" + path + "' cannot be read.");
}

// Why `path` cannot be opened. The layer's description names the file itself when the file is
// the trouble ("Unrecognized database format: '...'"); it is then said once, as it is.
std::string CannotOpen(const std::string& path, const db::Error& error) {
  const std::string description = Describe(error);
  if (description.find("'" + path + "'") != std::string::npos) return description;
  return "cannot open '" + path + "': " + description;
}

}  // namespace

std::string Describe(const db::Error& error) { return error.description(); }

OpenDatabase Open(const Request& request, Environment& env, db::OpenMode mode) {
  CheckReadable(request.database);

  std::optional<std::string> password = request.password;
  if (!password && env.variable) password = env.variable(kPasswordVariable);
  bool asked = false;
  auto ask = [&] {
    asked = true;
    std::optional<std::string> answer;
    if (env.readPassword) answer = env.readPassword("Password for " + request.database + ": ");
    if (!answer) throw Failure(exitcode::kCannotOpen, "no password was read: the input has ended.");
    password = std::move(answer);
  };
  if (request.askPassword) ask();

  for (;;) {
    OpenDatabase result;
    result.connectionString = db::BuildConnectionString(request.database, password.value_or(""));
    result.connection = std::make_unique<db::Connection>();
    result.connection->setMode(mode);
    try {
      result.connection->open(result.connectionString);
      return result;
    } catch (const db::Error& e) {
      if (e.number() != db::errc::kWrongPassword)
        throw Failure(exitcode::kCannotOpen, CannotOpen(request.database, e));
      if (!password && !asked && env.inIsTerminal) {
        ask();
        continue;
      }
      std::string message = CannotOpen(request.database, e);
      if (!password)
        message +=
            " The database has a password: give it with --password, --ask-password or "
            "the variable " +
            std::string(kPasswordVariable) + ".";
      throw Failure(exitcode::kCannotOpen, message);
    }
  }
}

std::vector<std::string> UserTables(db::Connection& connection) {
  std::vector<std::string> names;
  for (db::CatalogRow& row : connection.tables())
    if (row.type == kUserTable) names.push_back(std::move(row.name));
  return names;
}

std::string FindTable(db::Connection& connection, const std::string& name) {
  const std::vector<std::string> tables = UserTables(connection);
  if (const std::string* found = Match(tables, name)) return *found;
  throw Failure(exitcode::kNotFound,
                "no table '" + name + "' in the database. Its tables: " + Joined(tables) + ".");
}

std::vector<std::string> FieldNames(db::Connection& connection, const std::string& table) {
  std::unique_ptr<db::Recordset> records =
      connection.openRecordset(db::TableFieldsStatement(table));
  std::vector<std::string> names;
  for (int i = 0; i < records->fieldCount(); ++i) names.push_back(records->fieldName(i));
  return names;
}

std::string FindField(db::Connection& connection, const std::string& table,
                      const std::string& name) {
  const std::vector<std::string> fields = FieldNames(connection, table);
  if (const std::string* found = Match(fields, name)) return *found;
  throw Failure(exitcode::kNotFound, "no field '" + name + "' in table '" + table +
                                         "'. Its fields: " + Joined(fields) + ".");
}

}  // namespace cli
