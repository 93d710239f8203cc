// Helpers for tests that read the Access files made by Microsoft Access and for tests that
// need a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace testsupport {

// Folder of the Access fixtures (ROWSIFTER_FIXTURES overrides the built-in path).
std::filesystem::path FixturesDir();

// True when the fixtures folder is there. Tests that need it call ROWSIFTER_REQUIRE_FIXTURES().
bool HaveFixtures();

// Full path of one fixture file, e.g. Fixture("jet4-password-2003.mdb").
std::string Fixture(const std::string& name);

// The whole content of a file (empty when it cannot be read), to see that a file is unchanged.
std::string FileBytes(const std::string& path);

// A fresh folder under the system temp folder, removed (with its contents) on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Path of a file inside the folder.
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // Copies a fixture into the folder (writable) and returns the copy's path.
  std::string copyFixture(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace testsupport

// Skips the current test, visibly, when the Access fixtures are absent.
#define ROWSIFTER_REQUIRE_FIXTURES()                                                    \
  do {                                                                                  \
    if (!::testsupport::HaveFixtures())                                                 \
      GTEST_SKIP() << "Access fixtures folder absent (" << ::testsupport::FixturesDir() \
                   << "): test skipped";                                                \
  } while (0)
