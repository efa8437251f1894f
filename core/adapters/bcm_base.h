// KT_BCMBase: the BCM command layer, the UPS output control a BCM driver offers to the
// agent's worker thread. A driver implements three switching operations:
//
//   BCMSleepMode (on/off, load, seconds)   output (or one load segment) off or on after a
//                                          delay in whole minutes, or at a moment
//   BCMDelayedOff (load, seconds)          output (or one segment) off after seconds
//   BCMDelayedOn (load, seconds)           a segment's restart delay (load 255: every segment)
//
// each answering 1 when the UPS accepted, 0 when it refused (or did not answer), -1 on a local
// failure. Load -1 is the whole UPS. The layer adds the dispatch by kind and the forms the
// worker thread calls with a receptacle-block segment (kNoSegment, 255, for the whole UPS):
//
//   BCMControl (kind, load, s)   0 sleep TIMED_OFF, 1 sleep TIMED_ON, 2 delayed off,
//                                3 sleep TIMED_ON, 4 delayed on; any other kind -1
//   SegmentDelayedOff (load)     off after 1 s for the non-critical segment, else after the
//                                configured operating-system shutdown time (1 when 0)
//   SegmentDelayedOn (load)      restart delay: the non-critical segment's configured up delay,
//                                else 0 (255: every segment)
//   SegmentSleep (load)          the segment on at once (TIMED_ON, 0 s); 0 for the whole UPS
//   StartSleepMode (load)        restart delays 0, then off after the shutdown delay and on
//                                after the restart delay of the command block (each at least
//                                1; the shutdown delay is 0 for a scheduled segment-only
//                                shutdown; the maker's own UPSes get a restart delay of at
//                                least shutdown + 60), 1 s apart; the result of the last
#pragma once

class KT_SCP;

class KT_BCMBase {
 public:
  enum SleepKind : int {
    TIMED_OFF = 0,
    TIMED_ON = 1,
  };
  enum ControlKind : int {
    CONTROL_SLEEP_OFF = 0,
    CONTROL_SLEEP_ON = 1,
    CONTROL_DELAYED_OFF = 2,
    CONTROL_SLEEP_ON_AGAIN = 3,
    CONTROL_DELAYED_ON = 4,
  };
  static constexpr int kWholeUps = -1;
  static constexpr int kEverySegment = 255;

  virtual ~KT_BCMBase() = default;

  virtual int BCMSleepMode(int onOff, int load, int seconds) = 0;
  virtual int BCMDelayedOff(int load, int seconds) = 0;
  virtual int BCMDelayedOn(int load, int seconds) = 0;

  int BCMControl(int kind, int load, int seconds);
  int SegmentDelayedOff(int load);
  int SegmentDelayedOn(int load);
  int SegmentSleep(int load);
  int StartSleepMode(int load);

  // Seconds rounded to whole minutes: a remainder of 30 s or more rounds up; negative
  // seconds give 0.
  static int RoundToMinutes(int seconds);

 protected:
  // The SCP object whose configuration, receptacle, command and scheduled-shutdown blocks
  // give the delays.
  virtual KT_SCP& CommandScp() = 0;
  // Waits between the steps of StartSleepMode.
  virtual void PauseSeconds(int seconds) = 0;
};
