// The real rowsifter-cli program: exit codes, streams and the password from the environment.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/db/sqlite_file.h"
#include "tests/support/fixtures.h"

namespace {

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class BinaryTest : public ::testing::Test {
 protected:
  // Runs the program through the shell; `arguments` is shell text, `prefix` goes before it
  // (e.g. a variable assignment). Standard input is `input` (empty by default).
  Outcome run(const std::string& arguments, const std::string& prefix = "",
              const std::string& input = "") {
    const std::string in = dir.file("stdin"), out = dir.file("stdout"), err = dir.file("stderr");
    std::ofstream(in, std::ios::binary) << input;
    const std::string command = prefix + " '" ROWSIFTER_CLI_PATH "' " + arguments + " <'" + in +
                                "' >'" + out + "' 2>'" + err + "'";
    const int status = std::system(command.c_str());
    Outcome o;
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = ReadAll(out);
    o.err = ReadAll(err);
    return o;
  }

  testsupport::TempDir dir;
};

TEST_F(BinaryTest, ExitCodesSayWhatFailed) {
  const std::string db = dir.file("data.sqlite");
  dbtest::RunSql(db, "CREATE TABLE T (F TEXT); INSERT INTO T VALUES ('a b'), ('c');");
  const std::string q = "'" + db + "'";

  Outcome o = run("extract " + q + " T F -c 3");
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "a b\n");
  EXPECT_EQ(o.err, "") << "no progress bar off a terminal";

  EXPECT_EQ(run("extract " + q + " T F -c 7").code, 1) << "no value matched";
  o = run("extract " + q + " T F -c 42");
  EXPECT_EQ(o.code, 2);
  EXPECT_NE(o.err.find("Contains Tab(s)"), std::string::npos);
  EXPECT_EQ(run("frobnicate").code, 2);
  EXPECT_EQ(run("").code, 2);
  EXPECT_EQ(run("tables '" + dir.file("nope.sqlite") + "'").code, 3);
  EXPECT_EQ(run("tables /dev/null").code, 4) << "an empty file is no database";
  EXPECT_EQ(run("fields " + q + " Nope").code, 5);
  EXPECT_EQ(run("preview " + q + " T Nope").code, 5);
  EXPECT_EQ(run("extract " + q + " T F -c 3 -o /").code, 6);
  EXPECT_EQ(run("export " + q + " T F t -c 3").code, 7);

  o = run("--help");
  EXPECT_EQ(o.code, 0);
  for (const char* part : {"Exit codes:", "  6  writing failed", "--escape", "ROWSIFTER_PASSWORD",
                           "20  Does not contain Text Before"})
    EXPECT_NE(o.out.find(part), std::string::npos) << part;
}

// A file-size limit makes the export's writes fail: a clear failure, the file as it was, no
// journal or lock left behind; never a death by signal half-way through.
TEST_F(BinaryTest, FileSizeLimitFailsTheExportCleanly) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::string db = dir.copyFixture("jet4-nopassword-2003.mdb");
  const std::string before = testsupport::FileBytes(db);
  Outcome o = run("export '" + db + "' Table1 Data NewTable -c 9", "ulimit -f 64;");
  EXPECT_EQ(o.code, 6) << o.err;
  EXPECT_NE(o.err.find("File too large"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("Nothing was changed"), std::string::npos) << o.err;
  EXPECT_EQ(testsupport::FileBytes(db), before);
  EXPECT_FALSE(std::filesystem::exists(db + "-journal"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("jet4-nopassword-2003.ldb")));
}

TEST_F(BinaryTest, PasswordFromTheEnvironment) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::string file = "'" + testsupport::Fixture("jet4-password-2000.mdb") + "'";
  Outcome o = run("preview " + file + " Table1 Data -f csv", "ROWSIFTER_PASSWORD=password");
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "One\r\nTwo\r\nThree\r\n");

  o = run("tables " + file);
  EXPECT_EQ(o.code, 4) << "no password, and no terminal to ask on";
  EXPECT_NE(o.err.find("Not a valid password"), std::string::npos);
}

// Encrypted .accdb files: extracted with the password of -p, refused as a wrong password
// (exit 4) without it, and exported into with it.
TEST_F(BinaryTest, EncryptedAccdbFilesWithTheirPassword) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* name : {"ace-agile-encrypted.accdb", "ace12-rc4-cryptoapi-2007.accdb"}) {
    SCOPED_TRACE(name);
    const bool agile = std::string(name).find("agile") != std::string::npos;
    const std::string file = "'" + dir.copyFixture(name) + "'";
    const std::string password = agile ? "password" : "Test123";
    const std::string field = agile ? "Data" : "Field1";
    Outcome o = run("extract " + file + " Table1 " + field + " -c 6 -p " + password);
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, agile ? "One\nThree\nTwo\n" : "foo\n");
    o = run("tables " + file + " -p wrong");
    EXPECT_EQ(o.code, 4);
    EXPECT_NE(o.err.find("Not a valid password"), std::string::npos) << o.err;
    o = run("export " + file + " Table1 " + field + " Copied -c 6 -p " + password);
    EXPECT_EQ(o.code, 0) << o.err;
    o = run("preview " + file + " Copied " + field + " -p " + password);
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, agile ? "One\nThree\nTwo\n" : "foo\n");
  }
}

// --ask-password reads a password piped in without a prompt: no one is there to read it.
TEST_F(BinaryTest, AskPasswordFromAPipeWritesNoPrompt) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::string file = "'" + testsupport::Fixture("jet4-password-2003.mdb") + "'";
  Outcome o = run("tables " + file + " --ask-password", "", "password\n");
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "Table1\n");
  EXPECT_EQ(o.err, "");

  o = run("tables " + file + " --ask-password", "", "wrong\n");
  EXPECT_EQ(o.code, 4);
  EXPECT_EQ(o.err.find("Password for"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("Not a valid password"), std::string::npos) << o.err;
}

// On a terminal the program asks for the password itself, does not echo it, and leaves the
// terminal's echo as it found it.
TEST_F(BinaryTest, PasswordPromptOnATerminalDoesNotEcho) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::string file = testsupport::Fixture("jet4-password-2003.mdb");
  int master = -1;
  const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(ROWSIFTER_CLI_PATH, "rowsifter-cli", "tables", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string seen;
  char buffer[256];
  auto readSome = [&] {  // false at the end, and after 10 s of silence (no hanging test)
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return false;
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n > 0) seen.append(buffer, static_cast<std::size_t>(n));
    return n > 0;
  };
  while (seen.find("Password for") == std::string::npos && readSome()) {
  }
  if (seen.find("Password for") == std::string::npos) kill(child, SIGKILL);
  ASSERT_NE(seen.find("Password for"), std::string::npos) << seen;
  ASSERT_EQ(write(master, "password\n", 9), 9);
  while (readSome()) {
  }
  kill(child, SIGKILL);  // no-op when it has ended, as it should have
  int status = 0;
  waitpid(child, &status, 0);
  termios after{};
  ASSERT_EQ(tcgetattr(master, &after), 0);
  EXPECT_TRUE(after.c_lflag & ECHO) << "echo switched back on";
  close(master);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << seen;
  EXPECT_NE(seen.find("Table1"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("password\r\n"), std::string::npos) << "the answer was echoed: " << seen;
}

}  // namespace
