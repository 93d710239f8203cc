#include "steps/clock.h"

#include <QCoreApplication>
#include <QThread>
#include <QTime>

namespace steps {

namespace {
constexpr float kSecondsPerDay = 86400.0f;
}  // namespace

float SystemClock::secondsSinceMidnight() {
  return static_cast<float>(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0f;
}

void SystemClock::processEvents() {
  QCoreApplication::processEvents();
  // Give the processor back between rounds; the pause is short and its length is what counts.
  QThread::msleep(1);
}

void WaitSeconds(Clock& clock, double seconds) {
  const float start = clock.secondsSinceMidnight();
  for (;;) {
    const float now = clock.secondsSinceMidnight();
    const float elapsed = now < start ? now + kSecondsPerDay - start : now - start;
    if (elapsed >= seconds) return;
    clock.processEvents();
  }
}

}  // namespace steps
