// A clock for tests: it stands still until the events are processed, then moves on by a fixed
// step, and counts the rounds.
#pragma once

#include <functional>

#include "steps/clock.h"

namespace testsupport {

// Time stands still except inside a round of events, which moves it on by `step` seconds (a
// binary fraction, so that a pause of 0.1 s takes exactly one round).
class FakeClock : public steps::Clock {
 public:
  explicit FakeClock(float start = 3600.0f, float step = 0.125f) : now_(start), step_(step) {}
  float secondsSinceMidnight() override { return now_; }
  void processEvents() override {
    ++rounds;
    now_ += step_;
    if (now_ >= 86400.0f) now_ -= 86400.0f;
    if (onRound) onRound(rounds);
  }
  int rounds = 0;
  std::function<void(int round)> onRound;

 private:
  float now_;
  float step_;
};

}  // namespace testsupport
