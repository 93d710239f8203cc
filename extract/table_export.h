// The export's work in the database, shared by the workspace window's export and the command
// line's: the distinct values of a field that meet the criterion written into a new one-column
// table of the same database.
//
// One transaction holds all of it (the drop of an old table of the same name, the new table,
// its rows), so that a failure or a kill half-way leaves the database as it was. The callers
// take the steps in this order, each its own way (the window through numbered steps, the command
// line with its own messages): begin, dropOld when the table exists, openValues, create when
// there are values, writeValues, closeValues, commit (rollBack when the commit fails).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "extract/criteria.h"
#include "extract/value_walk.h"

namespace extract {

// True when a new table named `name` would replace the table `table` being read: the names are
// equal when letter case is ignored.
bool ReplacesSource(const std::string& name, const std::string& table);

class TableExport {
 public:
  // Writes into the table `name` (as given, spaces included) over `connection`, which is open.
  TableExport(db::Connection& connection, std::string name);

  const std::string& name() const { return name_; }

  void begin();    // starts the transaction
  void dropOld();  // drops the table named like the new one
  // Opens the distinct values of `field` of `table`.
  void openValues(const std::string& field, const std::string& table);
  // The record set of openValues (empty before it, or when it failed).
  const std::unique_ptr<db::Recordset>& values() const { return values_; }
  // Creates the new table, with one text column named `field`: VARCHAR, or a long-text column
  // with `longText` (values longer than 255 characters kept in Access).
  void create(const std::string& field, bool longText = false);
  // Inserts one value as a row of the new table.
  void insert(std::string_view value);
  // Walks the values (value_walk.h) and inserts those that meet the criterion.
  template <class Driver>
  void writeValues(Driver& driver, const Matcher& matcher) {
    WalkValues(driver, values_, matcher, [&](std::string_view value) { insert(value); });
  }
  // Closes the values; no statement of the export may still be reading at the commit.
  void closeValues();
  void commit();
  void rollBack();

 private:
  db::Connection& connection_;
  std::string name_;
  std::unique_ptr<db::Recordset> values_;
};

}  // namespace extract
