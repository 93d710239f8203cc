// What the PostgreSQL tests share: a fixture with its own schema on the program's private server
// and the layer opened on a connection file for it.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/statements.h"
#include "tests/support/pg_server.h"

namespace pgtest {

using testsupport::PgServer;

// The text of every row of a record set's first field (Null as "<null>").
inline std::vector<std::string> ReadAll(db::Recordset& records, long long limit = -1) {
  std::vector<std::string> out;
  for (; !records.eof() && limit != 0; --limit) {
    const db::Value& v = records.value(0);
    out.push_back(v.isNull() ? "<null>" : v.toText());
    records.moveNext();
  }
  return out;
}

// Each test has a schema of its own, named after it, on the shared server.
class PostgresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ROWSIFTER_REQUIRE_PG_SERVER(s);
    server = &s;
    if (!server->running()) GTEST_SKIP() << "server not running";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    schema = std::string("t_") + info->name();
    server->sql("DROP SCHEMA IF EXISTS \"" + schema + "\" CASCADE; CREATE SCHEMA \"" + schema +
                "\"; GRANT ALL ON SCHEMA \"" + schema + "\" TO " + PgServer::kPasswordUser);
    path = server->connectionFile(schema + ".pgconn", PgServer::kAdmin, PgServer::kDatabase,
                                  "schema=" + schema + "\n");
  }

  // SQL run by the superuser inside the test's schema.
  void sql(const std::string& text) {
    server->sql("SET search_path = \"" + schema + "\"; " + text);
  }
  std::vector<std::string> rows(const std::string& query) {
    return server->rows("SET search_path = \"" + schema + "\"; " + query);
  }
  bool tableExists(const std::string& name) {
    return rows("SELECT 1 FROM pg_catalog.pg_tables WHERE schemaname = '" + schema +
                "' AND tablename = '" + name + "'")
               .size() == 1;
  }

  std::unique_ptr<db::Connection> open(const std::string& file, const std::string& password = "",
                                       db::OpenMode mode = db::OpenMode::ReadWrite) {
    auto connection = std::make_unique<db::Connection>();
    connection->setMode(mode);
    connection->open(db::BuildConnectionString(file, password));
    return connection;
  }
  std::unique_ptr<db::Connection> open() { return open(path); }

  PgServer* server = nullptr;
  std::string schema, path;
};

}  // namespace pgtest
