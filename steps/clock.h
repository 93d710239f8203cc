// The clock seam: the time of day and the event pump, and the pause built on them.
//
// The run and the export pause for a tenth of a second at their first value and every 500
// values so that the windows repaint and react. Tests drive the pause with a clock of their own.
#pragma once

namespace steps {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since local midnight, in single precision (0 <= value < 86,400).
  virtual float secondsSinceMidnight() = 0;
  // Processes the pending window events once.
  virtual void processEvents() = 0;
};

// The wall clock and the application's event loop.
class SystemClock : public Clock {
 public:
  float secondsSinceMidnight() override;
  void processEvents() override;
};

// Pauses for `seconds`, processing window events meanwhile. The elapsed time is checked before
// each round of events, so zero or less returns at once. A pause that runs over midnight counts
// on past it (now + 86,400 - start when now is earlier than the start).
void WaitSeconds(Clock& clock, double seconds);

}  // namespace steps
