// What the browsing needs of the window it fills: its pointer setting and a way to let the
// window system handle pending events (repaints, and clicks that start another fill).
#pragma once

namespace screens {

class BrowseWindow {
 public:
  virtual ~BrowseWindow() = default;
  // Sets the window's pointer (steps::pointer values: 0 arrow, 11 hourglass).
  virtual void setPointer(int value) = 0;
  // Handles the pending events. May run other handlers of the window, including the browsing
  // itself.
  virtual void processEvents() = 0;
};

}  // namespace screens
