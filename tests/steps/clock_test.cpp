// The pause between batches of values: how long it lasts on the clock, across midnight too.
#include <gtest/gtest.h>

#include <stdexcept>

#include "steps/clock.h"
#include "tests/support/fake_clock.h"

namespace {

using testsupport::FakeClock;

// Rounds of events a pause takes; a pause that never ends stops the test.
int RoundsFor(FakeClock& clock, double seconds) {
  clock.onRound = [](int round) {
    if (round > 1000) throw std::runtime_error("the pause does not end");
  };
  steps::WaitSeconds(clock, seconds);
  return clock.rounds;
}

TEST(WaitSeconds, LastsTheRequestedTimeOnTheClock) {
  FakeClock a;
  EXPECT_EQ(RoundsFor(a, 0.1), 1);
  FakeClock b;
  EXPECT_EQ(RoundsFor(b, 1.0), 8);
  FakeClock c;
  EXPECT_EQ(RoundsFor(c, 0.0), 0);  // checked before the first round
  FakeClock d;
  EXPECT_EQ(RoundsFor(d, -5.0), 0);
}

TEST(WaitSeconds, CountsOnPastMidnight) {
  FakeClock clock(86399.95f);  // 50 ms before midnight
  EXPECT_EQ(RoundsFor(clock, 0.3), 3);
  EXPECT_LT(clock.secondsSinceMidnight(), 1.0f);
}

}  // namespace
