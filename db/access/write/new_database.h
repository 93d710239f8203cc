// New, empty Access databases made from scratch: a Jet 4 .mdb (Access 2000 to 2003) or an ACE
// .accdb (Access 2007 and later, in the ACE 12 layout), unencrypted and without a password.
//
// What a new file holds:
//   page 0   the header: signature, engine version, the block encrypted with the fixed RC4
//            key (code page 1252, no page key, an empty password masked with the creation
//            date, sort order General 1033, creation date)
//   page 1   the file's page map (row 0) and an unused second map row
//   pages 2-5 the definitions of MSysObjects, MSysACEs, MSysQueries and MSysRelationships,
//            then one data page with the usage maps of those tables, their indexes and long
//            values, the root page of every index and the data pages of the rows
//   MSysObjects: the containers (Tables, Databases, Relationships, and the empty containers of
//            forms, reports, modules, scripts, data access pages and relationships of the
//            interface), the MSysDb object, and a row for each of the four system tables
//   MSysACEs: the permissions of those objects; the "Tables" container passes full table
//            rights on to new tables.
// The users and groups of the permissions are those of the default workgroup, as Access
// writes them; their stored bytes differ between Jet 4 and ACE.
#pragma once

#include <string>

namespace db::access::write {

enum class NewDatabaseFormat { kJet4, kAce };

// Creates the file at `path`. `now` is the creation time as an OLE date (local time). Throws
// db::Error when the file exists already (it is left untouched) or cannot be written (nothing is
// left behind).
void CreateEmptyDatabase(const std::string& path, NewDatabaseFormat format, double now);
void CreateEmptyDatabase(const std::string& path, NewDatabaseFormat format);

}  // namespace db::access::write
