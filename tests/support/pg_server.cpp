#include "tests/support/pg_server.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <fstream>

extern char** environ;

namespace testsupport {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPort = "5432";  // only names the socket file: nothing listens on TCP
PgServer* g_server = nullptr;

// The bin folder of the newest server under /usr/lib/postgresql (ROWSIFTER_PG_BINDIR wins).
std::string FindBinDir() {
  if (const char* dir = std::getenv("ROWSIFTER_PG_BINDIR")) return dir;
  std::error_code ec;
  int best = -1;
  std::string found;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const std::string name = entry.path().filename().string();
    char* end = nullptr;
    const long version = std::strtol(name.c_str(), &end, 10);
    if (end == name.c_str() || *end != '\0') continue;
    if (!fs::exists(entry.path() / "bin" / "initdb") ||
        !fs::exists(entry.path() / "bin" / "pg_ctl"))
      continue;
    if (version > best) {
      best = static_cast<int>(version);
      found = (entry.path() / "bin").string();
    }
  }
  return found;
}

std::string PercentEncoded(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace

PgServer::~PgServer() {
  if (running_) stop("fast");
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

bool PgServer::run(const std::vector<std::string>& command, bool asServerUser) {
  std::vector<std::string> full;
  if (asServerUser && !user_.empty()) full = {"runuser", "-u", user_, "--"};
  full.insert(full.end(), command.begin(), command.end());
  std::vector<char*> argv;
  for (std::string& arg : full) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string log = (dir_ / "commands.log").string();
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    why_ = "cannot run " + full.front();
    return false;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  if (text.size() > 2000) text = text.substr(text.size() - 2000);
  why_ = command.front() + " failed: " + text;
  return false;
}

bool PgServer::start() {
  bin_ = FindBinDir();
  if (bin_.empty()) {
    why_ = "no PostgreSQL server programs (initdb, pg_ctl) under /usr/lib/postgresql";
    return false;
  }
  char pattern[] = "/tmp/rowsifter-pg-XXXXXX";
  if (!mkdtemp(pattern)) {
    why_ = "cannot make a scratch folder";
    return false;
  }
  dir_ = pattern;
  fs::create_directory(scratch());
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  if (geteuid() == 0) {
    const passwd* user = getpwnam("postgres");
    if (!user) user = getpwnam("nobody");
    if (!user) {
      why_ = "running as root, and neither the user postgres nor nobody exists";
      return false;
    }
    user_ = user->pw_name;
    if (chown(dir_.c_str(), user->pw_uid, user->pw_gid) != 0) {
      why_ = "cannot give the scratch folder to " + user_;
      return false;
    }
  }
  const std::string data = (dir_ / "data").string();
  if (!run({bin_ + "/initdb", "-D", data, "-U", kAdmin, "-A", "trust", "-E", "UTF8",
            "--locale=C.UTF-8", "--no-sync", "--no-instructions"},
           true))
    return false;
  {
    // The password user must give its password; everyone else is trusted (a private socket).
    std::ofstream hba(data + "/pg_hba.conf", std::ios::trunc);
    hba << "local all " << kPasswordUser << " scram-sha-256\n"
        << "local all all trust\n";
  }
  if (!restart()) return false;
  if (!load()) {
    stop("immediate");
    return false;
  }
  return true;
}

bool PgServer::load() {
  PGconn* admin = connect("postgres");
  const bool ok = PQstatus(admin) == CONNECTION_OK;
  if (!ok) why_ = PQerrorMessage(admin);
  if (ok) {
    char* password = PQescapeLiteral(admin, kPassword, std::strlen(kPassword));
    const std::string role =
        std::string("CREATE ROLE ") + kPasswordUser + " LOGIN PASSWORD " + password;
    PQfreemem(password);
    bool made = true;
    for (const std::string& statement : {role, std::string("CREATE DATABASE ") + kDatabase}) {
      PGresult* r = PQexec(admin, statement.c_str());
      if (made && PQresultStatus(r) != PGRES_COMMAND_OK) {
        why_ = PQresultErrorMessage(r);
        made = false;
      }
      PQclear(r);
    }
    PQfinish(admin);
    if (!made) return false;
  } else {
    PQfinish(admin);
    return false;
  }
  return sql(std::string("GRANT ALL ON SCHEMA public TO ") + kPasswordUser);
}

bool PgServer::restart() {
  const std::string options =
      "-k " + dir_.string() + " -p " + kPort + " -c listen_addresses='' -c fsync=off";
  running_ = run({bin_ + "/pg_ctl", "-D", (dir_ / "data").string(), "-l",
                  (dir_ / "server.log").string(), "-w", "-t", "60", "-o", options, "start"},
                 true);
  return running_;
}

void PgServer::stop(const std::string& mode) {
  run({bin_ + "/pg_ctl", "-D", (dir_ / "data").string(), "-m", mode, "-w", "stop"}, true);
  running_ = false;
}

std::string PgServer::uri(const std::string& user, const std::string& database,
                          const std::string& extra) const {
  return "postgresql:///" + PercentEncoded(database) + "?host=" + PercentEncoded(socketDir()) +
         "&port=" + kPort + "&user=" + PercentEncoded(user) + extra;
}

std::string PgServer::connectionFile(const std::string& name, const std::string& user,
                                     const std::string& database, const std::string& moreLines,
                                     const std::string& extra) const {
  const std::string path = (scratch() / name).string();
  std::ofstream out(path, std::ios::trunc);
  out << uri(user, database, extra) << '\n' << moreLines;
  return path;
}

PGconn* PgServer::connect(const std::string& database) const {
  const std::string text = uri(kAdmin, database, "&client_encoding=UTF8");
  PGconn* conn = PQconnectdb(text.c_str());
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  return conn;
}

bool PgServer::sql(const std::string& text, const std::string& database) const {
  PGconn* conn = connect(database);
  PGresult* r = PQexec(conn, text.c_str());
  const ExecStatusType status = PQresultStatus(r);
  const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  EXPECT_TRUE(ok) << text << ": " << PQerrorMessage(conn);
  PQclear(r);
  PQfinish(conn);
  return ok;
}

std::vector<std::string> PgServer::rows(const std::string& query,
                                        const std::string& database) const {
  PGconn* conn = connect(database);
  PGresult* r = PQexec(conn, query.c_str());
  std::vector<std::string> out;
  if (PQresultStatus(r) == PGRES_TUPLES_OK) {
    for (int i = 0; i < PQntuples(r); ++i) {
      std::string row;
      for (int j = 0; j < PQnfields(r); ++j) {
        if (j > 0) row += '|';
        row += PQgetisnull(r, i, j) ? "<null>" : PQgetvalue(r, i, j);
      }
      out.push_back(std::move(row));
    }
  } else {
    ADD_FAILURE() << query << ": " << PQerrorMessage(conn);
  }
  PQclear(r);
  PQfinish(conn);
  return out;
}

PgServer* SharedPgServer() { return g_server; }

bool ServerRequired() {
  for (const char* name : {"CI", "ROWSIFTER_REQUIRE_SERVER"}) {
    const char* value = std::getenv(name);
    if (value && *value && std::string(value) != "0" && std::string(value) != "false") return true;
  }
  return false;
}

void PgServerEnvironment::SetUp() {
  g_server = new PgServer();
  if (!g_server->start()) {
    std::cerr << "PostgreSQL test server could not start: " << g_server->why() << '\n';
  }
}

void PgServerEnvironment::TearDown() {
  delete g_server;
  g_server = nullptr;
}

}  // namespace testsupport
