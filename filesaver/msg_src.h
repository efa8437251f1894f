// The recorder and replayer of the File Saver (its message-hook component): hook 0 records the
// user's keys, buttons and pointer motion on the X display into ZIRERURI.MAA through the RECORD
// extension (a connection and a thread of its own); hook 1 replays ZIRERURI.MAA into the
// focused application through XTEST, paced by the recorded times.
//
// Recording: F12 ends it (the F12 itself is not recorded); F11 is recorded and creates the
// marker file insert11.now, and a replay types the path PREFIX.TMP names where the F11 was.
// When a recording has ended and ZIRERURI.MAA is complete, the notifier given to InitHook is
// called with kRecordingEndedMessage, on the recorder's thread: a caller with a user interface
// posts it to its own thread. The files lie in the current directory of the SetHook call.
//
// One global object, MsgSrc, as the dialog and the saver program use it. Its calls are made
// from one thread (the caller's); the notifier may be called while they run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "filesaver/program_lookup.h"

namespace filesaver {

inline constexpr unsigned kRecordingEndedMessage = 0x08B0;  // WM_USER + 1200
inline constexpr int kRecordHook = 0;
inline constexpr int kPlaybackHook = 1;
// The keysyms of F11 (marks where a replay types the saved file's path) and F12 (ends a
// recording).
inline constexpr uint32_t kMarkKeysym = 0xFFC8;
inline constexpr uint32_t kEndKeysym = 0xFFC9;
// A replay waits at most this long between two events, whatever the recording says.
inline constexpr uint32_t kMaxReplayGapMs = 1000;

using HookNotifier = std::function<void(unsigned message)>;

class CMsgSrc {
 public:
  CMsgSrc();
  virtual ~CMsgSrc();
  CMsgSrc(const CMsgSrc&) = delete;
  CMsgSrc& operator=(const CMsgSrc&) = delete;

  // Opens `display` (empty: $DISPLAY) and notes the window to notify (its pointer events at
  // the end of a recording stopped by FreeHook(0) are not recorded; 0: none) and the notifier.
  // Called again, it replaces both and reopens the display when another is named. The result
  // says whether recording and replaying can work; hooks fail on anything but kUsable.
  DisplayState InitHook(WindowId window, HookNotifier notify, const std::string& display = std::string());
  // After this returns the notifier is not called any more (a call under way has ended).
  void ClearNotifier();
  DisplayState display_state() const;

  // Index 0 starts recording, index 1 a replay of ZIRERURI.MAA. Non-zero when started; 0 when
  // the display is not usable, the index is unknown, the other hook runs, or (replay) the
  // recording file cannot be read.
  int SetHook(int index);
  // Index 0 ends a recording under way as F12 does, without the trailing pointer events that
  // reached the notified window (the user's way to its Stop button), and waits until
  // ZIRERURI.MAA is complete; index 1 stops a replay (releasing what it holds pressed). Non-zero
  // when the hook is stopped or was not running; 0 when ZIRERURI.MAA could not be written.
  int FreeHook(int index);

  bool recording() const;
  bool playing() const;
  // Waits at most `timeout_ms` for a replay to end by itself; true when none runs any more.
  bool WaitForPlayback(int timeout_ms);
  // Whether the last replay sent every event it read (false when it was stopped or the
  // display failed).
  bool last_playback_complete() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

extern CMsgSrc MsgSrc;

}  // namespace filesaver
