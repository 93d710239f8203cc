#include "tests/support/fixtures.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace testsupport {

fs::path FixturesDir() {
  if (const char* env = std::getenv("ROWSIFTER_FIXTURES"); env && *env) return env;
  return ROWSIFTER_FIXTURES_DIR;
}

bool HaveFixtures() {
  std::error_code ec;
  return fs::is_directory(FixturesDir(), ec);
}

std::string Fixture(const std::string& name) { return (FixturesDir() / name).string(); }

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TempDir::TempDir() {
  std::random_device rd;
  for (;;) {
    fs::path candidate = fs::temp_directory_path() /
                         ("rowsifter-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::copyFixture(const std::string& name) const {
  fs::path target = path_ / name;
  fs::copy_file(FixturesDir() / name, target, fs::copy_options::overwrite_existing);
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
  return target.string();
}

}  // namespace testsupport
