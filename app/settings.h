// The per-user settings: the last database path and its password, under the application key
// "Quillmoor" and the section "Rowsifter". Stored with Qt's per-user settings (on Linux the file
// ~/.config/Quillmoor.conf, group [Rowsifter]), readable by its owner only.
#pragma once

#include <string>

namespace app {

namespace setting {
constexpr const char* kDatabasePath = "AccessMDBFile";
constexpr const char* kPassword = "AccessPassword";
}  // namespace setting

class Settings {
 public:
  virtual ~Settings() = default;
  // Writes the value at once, replacing an existing one. Throws std::runtime_error when the
  // store cannot be written.
  virtual void save(const std::string& key, const std::string& value) = 0;
  // Reads a value; `fallback` when the key is absent or its value is empty (the two read the
  // same). Throws std::runtime_error when the store exists but cannot be read.
  virtual std::string load(const std::string& key, const std::string& fallback) = 0;
};

// The settings store of the running program. `file` overrides the file (for tests); empty means
// the per-user default.
class UserSettings : public Settings {
 public:
  explicit UserSettings(std::string file = {});
  void save(const std::string& key, const std::string& value) override;
  std::string load(const std::string& key, const std::string& fallback) override;
  // The file the values are kept in.
  std::string fileName() const;

 private:
  std::string file_;
};

}  // namespace app
