// What goes wrong with a server: passwords, a server that goes away in the middle of a run or an
// export, a table dropped by another client, a statement timeout. Each ends with one clear
// db::Error and nothing written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "db/base/error.h"
#include "extract/table_export.h"
#include "tests/postgres/pg_test_support.h"

namespace {

using pgtest::PostgresTest;
using pgtest::ReadAll;
using testsupport::PgServer;
using Names = std::vector<std::string>;

// Sets an environment variable for the scope of a test.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Restarts the shared server after a test stopped it, whatever the test's outcome.
struct RestartAfter {
  testsupport::PgServer& server;
  ~RestartAfter() {
    if (!server.running()) {
      EXPECT_TRUE(server.restart()) << server.why();
    }
  }
};

db::Error ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const db::Error& e) {
    return e;
  }
  ADD_FAILURE() << "no error";
  return db::Error(0, "");
}

TEST_F(PostgresTest, PasswordsWrongMissingAndFromLibpqsOwnSources) {
  sql("CREATE TABLE t (v text)");
  const std::string file = server->connectionFile("alice.pgconn", PgServer::kPasswordUser,
                                                  PgServer::kDatabase, "schema=" + schema + "\n");
  for (const std::string wrong : {"wrong", ""}) {
    const db::Error e = ErrorOf([&] { open(file, wrong); });
    EXPECT_EQ(e.number(), db::errc::kWrongPassword) << e.description();
    EXPECT_NE(e.description().find("alice.pgconn"), std::string::npos) << e.description();
  }
  const db::Error e = ErrorOf([&] { open(file, "wrong"); });
  EXPECT_EQ(e.description().find(PgServer::kPassword), std::string::npos);
  // The right password, blanks and apostrophes in it, through the connection string.
  EXPECT_EQ(pgtest::ReadAll(*open(file, PgServer::kPassword)->openRecordset("SELECT 'in'")),
            Names{"in"});

  // No password given: libpq's password file, and its other variables, as the user set them.
  const std::string passfile = (server->scratch() / "pgpass").string();
  std::ofstream(passfile) << "*:*:*:" << PgServer::kPasswordUser << ":" << PgServer::kPassword
                          << "\n";
  chmod(passfile.c_str(), 0600);
  ScopedVariable pass("PGPASSFILE", passfile);
  ScopedVariable app("PGAPPNAME", "sifting-" + schema);
  auto c = open(file, "");
  EXPECT_EQ(server->rows("SELECT usename FROM pg_stat_activity WHERE application_name = 'sifting-" +
                         schema + "' AND usename <> '" + PgServer::kAdmin + "'"),
            Names{PgServer::kPasswordUser});
}

TEST_F(PostgresTest, AServerThatGoesAwayInTheMiddleOfARunEndsItWithOneError) {
  sql("CREATE TABLE big AS SELECT i::text AS v FROM generate_series(1, 50000) i");
  RestartAfter restart{*server};
  auto c = open();
  auto r = c->openRecordset(db::DistinctValuesStatement("v", "big"));
  ASSERT_EQ(ReadAll(*r, 5).size(), 5u);
  server->stop("immediate");
  long long read = 5;
  const db::Error e = ErrorOf([&] {
    for (; !r->eof(); r->moveNext()) ++read;
  });
  EXPECT_LT(read, 50000);
  EXPECT_NE(e.description().find("connection"), std::string::npos) << e.description();
  EXPECT_TRUE(r->eof());
  // Later statements say the same, and nothing hangs.
  EXPECT_NE(ErrorOf([&] { c->tables(); }).description().find("lost"), std::string::npos);
  r.reset();
  c.reset();
}

TEST_F(PostgresTest, AServerThatGoesAwayInTheMiddleOfAnExportKeepsNothing) {
  sql("CREATE TABLE big AS SELECT i::text AS v FROM generate_series(1, 50000) i;"
      "CREATE TABLE \"Out\" (v text); INSERT INTO \"Out\" VALUES ('old');");
  {
    RestartAfter restart{*server};
    auto c = open();
    extract::TableExport out(*c, "Out");
    out.begin();
    out.dropOld();
    out.openValues("v", "big");
    out.create("v");
    db::Recordset& r = *out.values();
    const db::Error e = ErrorOf([&] {
      for (long long i = 0; !r.eof(); r.moveNext(), ++i) {
        if (i == 25000) server->stop("immediate");
        out.insert(r.value(0).text());
      }
      out.closeValues();
      out.commit();
    });
    EXPECT_NE(e.description().find("connection"), std::string::npos) << e.description();
    out.closeValues();
    try {
      out.rollBack();
    } catch (const db::Error&) {
    }
  }
  EXPECT_EQ(rows("SELECT v FROM \"Out\""), Names{"old"});
}

// Another client drops the table: before the run opens it (a clear "no such table"), or while
// the run reads it (the drop waits for the run, which reads every value).
TEST_F(PostgresTest, ATableDroppedByAnotherClientGivesAClearErrorOrWaitsForTheRun) {
  sql("CREATE TABLE gone (v text); INSERT INTO gone VALUES ('a');"
      "CREATE TABLE busy AS SELECT i::text AS v FROM generate_series(1, 30000) i;");
  auto c = open();
  ASSERT_EQ(c->tables().size(), 2u);
  sql("DROP TABLE gone");
  const db::Error e = ErrorOf([&] { c->openRecordset(db::DistinctValuesStatement("v", "gone")); });
  EXPECT_EQ(e.number(), db::errc::kNoSuchObject) << e.description();

  auto r = c->openRecordset(db::DistinctValuesStatement("v", "busy"));
  EXPECT_EQ(r->recordCount(), 30000);
  ASSERT_EQ(ReadAll(*r, 10).size(), 10u);
  PGconn* other = server->connect();
  PGresult* drop =
      PQexec(other, ("SET lock_timeout = '300ms'; DROP TABLE \"" + schema + "\".busy").c_str());
  EXPECT_EQ(PQresultStatus(drop), PGRES_FATAL_ERROR);  // it waited for the run, then gave up
  PQclear(drop);
  PQfinish(other);
  EXPECT_EQ(ReadAll(*r).size(), 30000u - 10u);
}

TEST_F(PostgresTest, AStatementTimeoutEndsARunAndAnExportWithOneErrorAndNothingWritten) {
  sql("CREATE VIEW slow AS SELECT 'x'::text AS v FROM pg_sleep(2);"
      "CREATE TABLE \"Out\" (v text); INSERT INTO \"Out\" VALUES ('old');");
  const std::string file =
      server->connectionFile(schema + "-timeout.pgconn", PgServer::kAdmin, PgServer::kDatabase,
                             "schema=" + schema + "\n", "&options=-c%20statement_timeout%3D200");
  auto c = open(file);
  const db::Error run =
      ErrorOf([&] { c->openRecordset(db::DistinctValuesStatement("v", "slow")); });
  EXPECT_NE(run.description().find("statement timeout"), std::string::npos) << run.description();

  extract::TableExport out(*c, "Out");
  out.begin();
  out.dropOld();
  const db::Error exported = ErrorOf([&] { out.openValues("v", "slow"); });
  EXPECT_NE(exported.description().find("statement timeout"), std::string::npos);
  out.rollBack();
  EXPECT_EQ(rows("SELECT v FROM \"Out\""), Names{"old"});
  // A query that times out while another record set is open ends that record set's
  // transaction too (no more of its rows come from the server); the connection goes on.
  sql("CREATE TABLE quick (v text); INSERT INTO quick VALUES ('q')");
  auto first = c->openRecordset("SELECT v FROM quick");
  const db::Error late =
      ErrorOf([&] { c->openRecordset(db::DistinctValuesStatement("v", "slow")); });
  EXPECT_NE(late.description().find("statement timeout"), std::string::npos);
  EXPECT_EQ(c->tables().size(), 3u);       // Out, quick and the view slow
  EXPECT_EQ(ReadAll(*first), Names{"q"});  // the rows it had received stay readable
  c->beginTrans();
  c->execute(db::CreateTableStatement("later", "v"));
  c->execute(db::InsertStatement("later", "kept"));
  c->commitTrans();
  EXPECT_EQ(rows("SELECT v FROM later"), Names{"kept"});
  first.reset();
  // The connection is usable again.
  EXPECT_EQ(ReadAll(*c->openRecordset("SELECT 'after'")), Names{"after"});
}

}  // namespace
