#include "cli/progress.h"

#include <algorithm>

namespace cli {
namespace {

constexpr int kWidth = 30;

}  // namespace

ProgressBar::ProgressBar(std::ostream& out, bool enabled, std::string label)
    : out_(out), enabled_(enabled), label_(std::move(label)) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::counting() {
  if (!enabled_) return;
  out_ << '\r' << label_ << "  counting rows..." << std::flush;
  shown_ = true;
}

void ProgressBar::start(long long total) {
  if (!enabled_) return;
  total_ = std::max(total, 0LL);
  done_ = 0;
  draw();
}

void ProgressBar::draw() {
  const int percent = total_ > 0 ? static_cast<int>(std::min(done_, total_) * 100 / total_) : 100;
  const int filled = percent * kWidth / 100;
  out_ << '\r' << label_ << " [" << std::string(filled, '#') << std::string(kWidth - filled, '-')
       << "] "
       << (percent < 10    ? "  "
           : percent < 100 ? " "
                           : "")
       << percent << "%  " << std::min(done_, total_) << '/' << total_ << "\x1b[K" << std::flush;
  shown_ = true;
  // The first row count that shows the next percentage.
  nextDraw_ = total_ > 0 ? ((percent + 1) * total_ + 99) / 100 : done_ + 1;
}

void ProgressBar::finish() {
  if (!shown_) return;
  out_ << "\r\x1b[K" << std::flush;
  shown_ = false;
}

}  // namespace cli
