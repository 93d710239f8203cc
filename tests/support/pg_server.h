// A private PostgreSQL server for the tests: initdb into a scratch folder, pg_ctl start on a Unix
// socket in that folder only (no TCP port), stopped and removed at the end. As root (which
// initdb refuses) the server runs as the unprivileged user `postgres` that Debian's package
// makes, else `nobody`.
//
// A test program starts one server for all its tests (PgServerEnvironment). A test that needs
// it calls ROWSIFTER_REQUIRE_PG_SERVER(): when the server could not start it skips, saying why,
// unless the variable CI or ROWSIFTER_REQUIRE_SERVER is set (scripts/test.sh sets the latter),
// where it fails.
#pragma once

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class PgServer {
 public:
  // The superuser the tests load their data with (no password), and a user that must give one.
  static constexpr const char* kAdmin = "rowsifter_admin";
  static constexpr const char* kPasswordUser = "alice";
  static constexpr const char* kPassword = "s3cret 'pw'";
  static constexpr const char* kDatabase = "rowsifter";

  PgServer() = default;
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // Makes and starts the server, with the database kDatabase and the user kPasswordUser. False,
  // with why(), when it cannot.
  bool start();
  const std::string& why() const { return why_; }
  bool running() const { return running_; }

  // Stops the server: "immediate" as though it went away, "fast" for an orderly stop.
  void stop(const std::string& mode = "immediate");
  // Starts the stopped server again (same data).
  bool restart();

  // The folder of the socket (the libpq host).
  std::string socketDir() const { return dir_.string(); }
  // The folder where tests may keep their files (connection files and the like).
  std::filesystem::path scratch() const { return dir_ / "scratch"; }
  // The bin folder of the server programs (psql is on the PATH).
  const std::string& binDir() const { return bin_; }

  // A connection URI for `user` on `database`; `extra` is appended as URI parameters
  // ("&options=..."). The password never appears in it.
  std::string uri(const std::string& user = kAdmin, const std::string& database = kDatabase,
                  const std::string& extra = "") const;
  // Writes a connection file named `name` into scratch() and returns its path.
  std::string connectionFile(const std::string& name, const std::string& user = kAdmin,
                             const std::string& database = kDatabase,
                             const std::string& moreLines = "",
                             const std::string& extra = "") const;

  // Runs SQL as the superuser on `database` (several statements allowed). Fails the test and
  // returns false on an error.
  bool sql(const std::string& text, const std::string& database = kDatabase) const;
  // The rows of a query, each row's fields joined by '|' (Null as "<null>").
  std::vector<std::string> rows(const std::string& query,
                                const std::string& database = kDatabase) const;
  // A connection of the superuser, for tests that act as another client.
  PGconn* connect(const std::string& database = kDatabase) const;

 private:
  bool run(const std::vector<std::string>& command, bool asServerUser);
  bool load();  // the test user and database

  std::filesystem::path dir_;
  std::string bin_, user_, why_;
  bool running_ = false;
};

// The program's one server (null before the environment set it up).
PgServer* SharedPgServer();

// A gtest environment that starts the shared server before the tests and removes it after.
class PgServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

// True when a missing server must fail the tests rather than skip them.
bool ServerRequired();

}  // namespace testsupport

// Skips (or, where a server is required, fails) the current test when the shared server is
// not running; otherwise a reference to it is in `server`.
#define ROWSIFTER_REQUIRE_PG_SERVER(server)                                               \
  ::testsupport::PgServer* server##_ptr = ::testsupport::SharedPgServer();                \
  if (!server##_ptr || !server##_ptr->running()) {                                        \
    const std::string why = server##_ptr ? server##_ptr->why() : "no server was started"; \
    if (::testsupport::ServerRequired()) {                                                \
      FAIL() << "PostgreSQL test server unavailable: " << why;                            \
    } else {                                                                              \
      GTEST_SKIP() << "PostgreSQL test server unavailable (" << why << "): test skipped"; \
    }                                                                                     \
  }                                                                                       \
  ::testsupport::PgServer& server = *server##_ptr
