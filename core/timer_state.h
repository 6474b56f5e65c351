// What the one-second timer counts down. The SCSI download arms the writing countdown while
// the scanner saves its firmware; the serial download loads the serial time-out. (core/ holds
// the few types the subsystems and the front ends hand each other; platform/ only the
// operating-system seams.)
#pragma once

namespace fwload {

struct TimerState {
  int WritingCountdownActive = 0;  // 1 while the countdown is shown
  int WritingSecondsLeft = 0;
  int SerialTicksLeft = 0;  // in timer ticks (seconds)
};

}  // namespace fwload
