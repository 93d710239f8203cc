// The pointer of one window, by its setting (steps/pointer.h).
#pragma once

#include <string>

#include "steps/pointer.h"

class QWidget;

namespace app {

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
  int value_ = steps::pointer::kDefault;
  Impl* impl_;
};

}  // namespace app
