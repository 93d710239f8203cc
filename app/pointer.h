// The pointer setting of one window: 0 the default arrow, 11 the hourglass of long work, 99 the
// window's own pointer image (the arrow while it has none).
#pragma once

#include <string>

class QWidget;

namespace app {

namespace pointer {
constexpr int kDefault = 0;
constexpr int kBusy = 11;
constexpr int kCustom = 99;
}  // namespace pointer

class WindowPointer {
 public:
  explicit WindowPointer(QWidget* window);
  ~WindowPointer();
  WindowPointer(const WindowPointer&) = delete;
  WindowPointer& operator=(const WindowPointer&) = delete;

  // Changes the setting and the window's cursor.
  void set(int value);
  int value() const { return value_; }
  // Loads the custom image (a .cur or any image Qt reads). Throws std::runtime_error when the
  // file cannot be read as an image.
  void loadImage(const std::string& path);
  bool hasImage() const;

 private:
  struct Impl;
  QWidget* window_;
  int value_ = pointer::kDefault;
  Impl* impl_;
};

}  // namespace app
