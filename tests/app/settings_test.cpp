#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tests/support/fixtures.h"

namespace {

namespace fs = std::filesystem;
using app::setting::kDatabasePath;
using app::setting::kPassword;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class SettingsTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::string file = dir.file("cfg/Quillmoor.conf");
  app::UserSettings settings{file};
};

TEST_F(SettingsTest, ValuesRoundTripAndReplaceEarlierOnes) {
  settings.save(kDatabasePath, "/home/ann/db/first.mdb");
  settings.save(kPassword, "secret");
  settings.save(kDatabasePath, "/home/ann/db/second.accdb");
  EXPECT_EQ(settings.load(kDatabasePath, ""), "/home/ann/db/second.accdb");
  EXPECT_EQ(settings.load(kPassword, ""), "secret");
  // A fresh store over the same file sees what was written: writes are immediate.
  EXPECT_EQ(app::UserSettings(file).load(kPassword, ""), "secret");
  const std::string text = ReadAll(file);
  EXPECT_NE(text.find("[Rowsifter]"), std::string::npos) << text;
  EXPECT_NE(text.find("AccessMDBFile="), std::string::npos) << text;
  EXPECT_NE(text.find("AccessPassword="), std::string::npos) << text;
  // Two stores over one file (two running copies) keep each other's keys.
  app::UserSettings other(file);
  other.save(kPassword, "other");
  settings.save(kDatabasePath, "/third.mdb");
  EXPECT_EQ(other.load(kDatabasePath, ""), "/third.mdb");
  EXPECT_EQ(settings.load(kPassword, ""), "other");
}

TEST_F(SettingsTest, KeepsAwkwardTextsExactly) {
  for (const std::string value :
       {"C:\\Data\\Sales; 2021 = \"final\".mdb", "@Invalid()", "a, b, c", "  padded  ", "true",
        "0042", "p#ss;w=rd[x]", "Ünïcödé €", "#comment?", "line1\nline2"}) {
    settings.save(kPassword, value);
    EXPECT_EQ(app::UserSettings(file).load(kPassword, "?"), value);
  }
}

TEST_F(SettingsTest, AbsentKeyAndEmptyValueReadTheSame) {
  EXPECT_EQ(settings.load(kDatabasePath, ""), "");  // no file at all yet
  EXPECT_EQ(settings.load(kDatabasePath, "none"), "none");
  settings.save(kPassword, "pw");
  EXPECT_EQ(settings.load(kDatabasePath, "none"), "none");  // file, but not this key
  settings.save(kPassword, "");
  EXPECT_EQ(settings.load(kPassword, ""), "");
  EXPECT_EQ(settings.load(kPassword, "none"), "none");
}

TEST_F(SettingsTest, FileIsReadableByItsOwnerOnly) {
  settings.save(kDatabasePath, "/a.mdb");
  EXPECT_EQ(ModeOf(file), 0600u) << "after the first write";
  settings.save(kPassword, "pw");
  EXPECT_EQ(ModeOf(file), 0600u) << "after a later write";
  // A file left open to others (by hand, or an older copy) is closed at the next write.
  fs::permissions(file, fs::perms(0644));
  settings.save(kPassword, "new");
  EXPECT_EQ(ModeOf(file), 0600u);
  EXPECT_EQ(settings.load(kPassword, ""), "new");
}

TEST_F(SettingsTest, AWriteThatCannotBeMadeIsAFailureNotASilentLoss) {
  std::ofstream(dir.file("blocker")) << "a file where a folder should be";
  app::UserSettings blocked(dir.file("blocker/Quillmoor.conf"));
  EXPECT_THROW(blocked.save(kPassword, "pw"), std::runtime_error);

  fs::create_directories(dir.file("folder.conf"));
  app::UserSettings onFolder(dir.file("folder.conf"));
  EXPECT_THROW(onFolder.save(kPassword, "pw"), std::runtime_error);
}

TEST(UserSettings, DefaultStoreIsTheOrganisationFile) {
  app::UserSettings settings;
  EXPECT_EQ(fs::path(settings.fileName()).filename(), "Quillmoor.conf");
  // The tests run with Qt's test paths, so this is not the user's own file.
  EXPECT_NE(settings.fileName().find(".qttest"), std::string::npos) << settings.fileName();
  settings.save(kDatabasePath, "/x.mdb");
  EXPECT_EQ(app::UserSettings().load(kDatabasePath, ""), "/x.mdb");
  EXPECT_EQ(ModeOf(settings.fileName()), 0600u);
  settings.save(kDatabasePath, "");
}

}  // namespace
