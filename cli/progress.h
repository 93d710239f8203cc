// The progress bar of long commands, drawn on standard error when it is a terminal:
//   extract  [##########----------]  50%  150000/300000
// It is redrawn only when the shown percentage changes, and wiped at the end so that nothing
// of it stays between the command's own messages.
#pragma once

#include <ostream>
#include <string>

namespace cli {

class ProgressBar {
 public:
  // A bar that draws nothing when `enabled` is false.
  ProgressBar(std::ostream& out, bool enabled, std::string label);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  bool enabled() const { return enabled_; }
  // Says the rows are being counted (that can take a while), before start().
  void counting();
  // Starts at 0 of `total` rows.
  void start(long long total);
  // One more row done.
  void advance() {
    if (enabled_ && ++done_ >= nextDraw_) draw();
  }
  // Wipes the bar. Called by the destructor too.
  void finish();

 private:
  void draw();

  std::ostream& out_;
  bool enabled_;
  bool shown_ = false;
  std::string label_;
  long long total_ = 0;
  long long done_ = 0;
  long long nextDraw_ = 0;  // the row count at which the percentage next changes
};

}  // namespace cli
