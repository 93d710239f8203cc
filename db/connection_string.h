// The connection string: built from the path and password boxes, parsed back by the layer.
#pragma once

#include <string>

namespace db {

// Builds the connection string for a database path and password: the ACE provider when the
// last five characters of the path, lower-cased, are "accdb", the Jet provider otherwise,
// then the path and the password key with the password. A path or password holding ";" or a
// double quote, or beginning with an apostrophe, is written between double quotes (inner double
// quotes doubled) so that it reaches the engine intact; every other value is written as it
// stands.
std::string BuildConnectionString(const std::string& path, const std::string& password);

struct ConnectionSettings {
  std::string provider;    // e.g. "Microsoft.ACE.OLEDB.12.0"
  std::string dataSource;  // the database path
  std::string password;    // the database password, possibly empty
};

// Parses a connection string of "key=value" pairs separated by ";". Keys are compared without
// regard to letter case; a value may be quoted with double or single quotes (a doubled quote
// inside stands for one). Recognised keys: Provider, Data Source, Jet OLEDB:Database Password;
// others are ignored. Throws db::Error when the string is malformed (e.g. an unclosed quote).
ConnectionSettings ParseConnectionString(const std::string& text);

}  // namespace db
