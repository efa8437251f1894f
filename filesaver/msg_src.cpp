#include "filesaver/msg_src.h"

#include <X11/XKBlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "filesaver/x_display.h"

namespace filesaver {

CMsgSrc MsgSrc;

static_assert(XK_F11 == kMarkKeysym && XK_F12 == kEndKeysym);

namespace {

bool IsPointerEvent(uint32_t message) {
  return message >= kMouseMove && message <= kMiddleButtonUp;
}

bool IsButtonDown(uint32_t message) {
  return message == kLeftButtonDown || message == kRightButtonDown || message == kMiddleButtonDown;
}

bool Inside(const WindowRect& r, uint32_t x, uint32_t y) {
  const int32_t sx = static_cast<int32_t>(x);
  const int32_t sy = static_cast<int32_t>(y);
  return sx >= r.left && sx < r.right && sy >= r.top && sy < r.bottom;
}

// The events of a recording ended by FreeHook(0), without the pointer events that took the
// user to the Stop button of the notified window: of the pointer events after the last key,
// those behind the last button press outside that window (and its release) go. Without a
// known window every pointer event after the last key goes.
std::vector<EventMsg> WithoutWayToStop(const std::vector<EventMsg>& events, const WindowRect* stop_window) {
  size_t run = events.size();
  while (run > 0 && IsPointerEvent(events[run - 1].message)) --run;
  size_t keep = run;
  if (stop_window != nullptr) {
    for (size_t i = events.size(); i > run; --i) {
      const EventMsg& e = events[i - 1];
      if (!IsButtonDown(e.message) || Inside(*stop_window, e.param_l, e.param_h)) continue;
      keep = i;
      for (size_t j = i; j < events.size(); ++j) {
        if (events[j].message == e.message + 1) {
          keep = j + 1;
          break;
        }
      }
      break;
    }
  }
  return std::vector<EventMsg>(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(keep));
}

WindowRect RootRect(Display* d, Window w) {
  XWindowAttributes a;
  int x = 0;
  int y = 0;
  Window child = 0;
  if (d == nullptr || w == 0 || !XGetWindowAttributes(d, w, &a) ||
      !XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child))
    return WindowRect{};
  return WindowRect{x, y, x + a.width, y + a.height};
}

// One recording: the RECORD context on a connection of its own, read by the recorder's thread,
// and a second connection for that thread's look-ups.
struct Recorder {
  Display* data = nullptr;
  Display* query = nullptr;
  XRecordContext context = 0;
  std::thread thread;
  std::string directory;

  std::mutex mutex;  // the fields below
  std::vector<EventMsg> events;
  uint32_t start_time = 0;
  bool ending = false;   // F12 or FreeHook(0): later events are not recorded
  bool by_free = false;  // ended by FreeHook(0)
  bool have_stop_window = false;
  WindowRect stop_window;
  bool finished = false;  // the thread is done
  bool written = false;   // ZIRERURI.MAA holds the recording
  std::set<uint32_t> keys_down;
  std::set<uint32_t> buttons_down;
  uint32_t focus = 0;
  std::vector<EventMsg> final_events;

  ~Recorder() {
    if (thread.joinable()) thread.join();
  }

  void Take(const xEvent* event) {
    const int type = event->u.u.type & 0x7F;
    const uint32_t time = static_cast<uint32_t>(event->u.keyButtonPointer.time);
    const uint32_t x = static_cast<uint32_t>(static_cast<int32_t>(event->u.keyButtonPointer.rootX));
    const uint32_t y = static_cast<uint32_t>(static_cast<int32_t>(event->u.keyButtonPointer.rootY));
    const unsigned detail = event->u.u.detail;
    std::lock_guard<std::mutex> lock(mutex);
    if (ending) return;
    EventMsg e;
    e.time = time;
    if (type == KeyPress || type == KeyRelease || type == ButtonPress) {
      Window focus_window = 0;
      int revert = 0;
      XGetInputFocus(query, &focus_window, &revert);
      focus = focus_window > PointerRoot ? static_cast<uint32_t>(focus_window) : 0;
    }
    e.window = focus;
    if (type == KeyPress || type == KeyRelease) {
      const KeySym sym = XkbKeycodeToKeysym(query, static_cast<KeyCode>(detail), 0, 0);
      if (type == KeyPress && sym == kEndKeysym) {
        // The end of the recording; the F12 itself is not part of it.
        ending = true;
        XRecordDisableContext(query, context);
        XFlush(query);
        return;
      }
      if (type == KeyRelease && !keys_down.erase(detail)) return;  // pressed before the recording
      if (type == KeyPress) keys_down.insert(detail);
      if (type == KeyPress && sym == kMarkKeysym) CreateMarkerFile(directory);
      e.message = type == KeyPress ? kKeyDown : kKeyUp;
      e.param_l = detail;
      e.param_h = static_cast<uint32_t>(sym);
    } else if (type == ButtonPress || type == ButtonRelease) {
      uint32_t down = 0;
      if (detail == 1) down = kLeftButtonDown;
      else if (detail == 2) down = kMiddleButtonDown;
      else if (detail == 3) down = kRightButtonDown;
      else return;  // wheel and further buttons
      if (type == ButtonRelease && !buttons_down.erase(detail)) return;
      if (type == ButtonPress) buttons_down.insert(detail);
      e.message = type == ButtonPress ? down : down + 1;
      e.param_l = x;
      e.param_h = y;
    } else if (type == MotionNotify) {
      e.message = kMouseMove;
      e.param_l = x;
      e.param_h = y;
    } else {
      return;
    }
    events.push_back(e);
  }

  static void Intercept(XPointer closure, XRecordInterceptData* data) {
    auto* self = reinterpret_cast<Recorder*>(closure);
    if (data->category == XRecordStartOfData) {
      std::lock_guard<std::mutex> lock(self->mutex);
      self->start_time = static_cast<uint32_t>(data->server_time);
    } else if (data->category == XRecordFromServer && data->data != nullptr && data->data_len * 4 >= sizeof(xEvent)) {
      self->Take(reinterpret_cast<const xEvent*>(data->data));
    }
    XRecordFreeData(data);
  }

  // Under the mutex: the events as they go to the file, and the writing.
  bool WriteLocked() {
    final_events = by_free ? WithoutWayToStop(events, have_stop_window ? &stop_window : nullptr) : events;
    const RecordingHeader header{static_cast<uint32_t>(final_events.size()), start_time};
    written = WriteRecordingFile(directory + "/" + kRecordingFile, header, final_events);
    return written;
  }
};

// One replay on a connection of its own, run by the replayer's thread.
struct Player {
  Display* display = nullptr;
  std::vector<EventMsg> events;
  std::string saved_path;  // typed where the recording had F11
  std::thread thread;

  std::mutex mutex;
  std::condition_variable changed;
  bool stop = false;
  bool finished = false;
  bool complete = false;

  std::set<KeyCode> keys_down;
  std::set<unsigned> buttons_down;

  ~Player() {
    if (thread.joinable()) thread.join();
    x11::Close(display);
  }

  // Waits `ms`, or less when the replay is stopped; false when stopped.
  bool Pause(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop; });
    return !stop;
  }

  bool Stopped() {
    std::lock_guard<std::mutex> lock(mutex);
    return stop;
  }

  // The keycode that gives the recorded keysym at the first level, else the recorded keycode.
  KeyCode KeyOf(const EventMsg& e) {
    const KeySym sym = e.param_h;
    if (sym != NoSymbol) {
      const KeyCode code = XKeysymToKeycode(display, sym);
      if (code != 0 && XkbKeycodeToKeysym(display, code, 0, 0) == sym) return code;
    }
    return static_cast<KeyCode>(e.param_l);
  }

  KeyCode SpareKeycode() {
    int min = 0;
    int max = 0;
    XDisplayKeycodes(display, &min, &max);
    int per = 0;
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &per);
    if (map == nullptr) return 0;
    KeyCode spare = 0;
    for (int code = max; code >= min && spare == 0; --code) {
      bool empty = true;
      for (int i = 0; i < per; ++i)
        if (map[(code - min) * per + i] != NoSymbol) empty = false;
      if (empty) spare = static_cast<KeyCode>(code);
    }
    XFree(map);
    return spare;
  }

  void Tap(KeyCode code, bool shift) {
    const KeyCode shift_code = XKeysymToKeycode(display, XK_Shift_L);
    if (shift && shift_code) XTestFakeKeyEvent(display, shift_code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (shift && shift_code) XTestFakeKeyEvent(display, shift_code, False, CurrentTime);
    XFlush(display);
  }

  // Types the text (UTF-8) as key strokes; a character without a key is bound to a spare
  // keycode for the moment. False when a character cannot be typed.
  bool TypeText(const std::string& text) {
    bool ok = true;
    KeyCode spare = 0;
    for (size_t i = 0; i < text.size() && !Stopped();) {
      unsigned char c = static_cast<unsigned char>(text[i]);
      char32_t cp = c;
      size_t len = 1;
      if (c >= 0xC0) {
        len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        cp = c & (0x3F >> (len - 1));
        for (size_t k = 1; k < len && i + k < text.size(); ++k)
          cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
      }
      i += len;
      const KeySym sym = (cp >= 0x20 && cp <= 0x7E) || (cp >= 0xA0 && cp <= 0xFF) ? cp : 0x01000000 | cp;
      KeyCode code = XKeysymToKeycode(display, sym);
      bool shift = false;
      if (code != 0) {
        if (XkbKeycodeToKeysym(display, code, 0, 0) == sym) shift = false;
        else if (XkbKeycodeToKeysym(display, code, 0, 1) == sym) shift = true;
        else code = 0;
      }
      if (code == 0) {
        if (spare == 0) spare = SpareKeycode();
        if (spare == 0) {
          ok = false;
          continue;
        }
        KeySym syms[2] = {sym, sym};
        XChangeKeyboardMapping(display, spare, 2, syms, 1);
        XSync(display, False);
        code = spare;
      }
      Tap(code, shift);
    }
    if (spare != 0) {
      KeySym none[2] = {NoSymbol, NoSymbol};
      XChangeKeyboardMapping(display, spare, 2, none, 1);
    }
    XSync(display, False);
    return ok;
  }

  void Send(const EventMsg& e) {
    switch (e.message) {
      case kKeyDown:
      case kKeyUp: {
        const bool down = e.message == kKeyDown;
        if (e.param_h == kMarkKeysym) {
          // Where the saved file's name belongs.
          if (down && !TypeText(saved_path)) complete = false;
          return;
        }
        const KeyCode code = KeyOf(e);
        if (down) keys_down.insert(code);
        else keys_down.erase(code);
        XTestFakeKeyEvent(display, code, down ? True : False, CurrentTime);
        break;
      }
      case kMouseMove:
        XTestFakeMotionEvent(display, -1, static_cast<int32_t>(e.param_l), static_cast<int32_t>(e.param_h),
                             CurrentTime);
        break;
      default: {
        unsigned button = 0;
        if (e.message == kLeftButtonDown || e.message == kLeftButtonUp) button = 1;
        else if (e.message == kMiddleButtonDown || e.message == kMiddleButtonUp) button = 2;
        else if (e.message == kRightButtonDown || e.message == kRightButtonUp) button = 3;
        else return;
        const bool down = IsButtonDown(e.message);
        XTestFakeMotionEvent(display, -1, static_cast<int32_t>(e.param_l), static_cast<int32_t>(e.param_h),
                             CurrentTime);
        if (down) buttons_down.insert(button);
        else buttons_down.erase(button);
        XTestFakeButtonEvent(display, button, down ? True : False, CurrentTime);
        break;
      }
    }
    XFlush(display);
  }

  void Run() {
    bool all = true;
    complete = true;
    for (size_t i = 0; i < events.size(); ++i) {
      uint32_t gap = 0;
      if (i > 0 && events[i].time > events[i - 1].time) gap = events[i].time - events[i - 1].time;
      if (!Pause(std::min(gap, kMaxReplayGapMs)) || x11::Broken(display)) {
        all = false;
        break;
      }
      Send(events[i]);
    }
    // Nothing stays pressed behind a replay, whether it ran to its end or not.
    for (KeyCode code : keys_down) XTestFakeKeyEvent(display, code, False, CurrentTime);
    for (unsigned button : buttons_down) XTestFakeButtonEvent(display, button, False, CurrentTime);
    XSync(display, False);
    if (x11::Broken(display)) all = false;
    std::lock_guard<std::mutex> lock(mutex);
    complete = complete && all;
    finished = true;
    changed.notify_all();
  }
};

}  // namespace

struct CMsgSrc::Impl {
  Display* control = nullptr;
  std::string display_name;
  DisplayState state = DisplayState::kNoDisplay;
  WindowId window = 0;

  std::mutex notify_mutex;  // held while the notifier runs
  HookNotifier notify;

  std::unique_ptr<Recorder> recorder;
  std::unique_ptr<Player> player;
  bool last_complete = false;

  void Notify() {
    std::lock_guard<std::mutex> lock(notify_mutex);
    if (notify) notify(kRecordingEndedMessage);
  }

  void RecorderThread(Recorder* r) {
    XRecordEnableContext(r->data, r->context, Recorder::Intercept, reinterpret_cast<XPointer>(r));
    XRecordFreeContext(r->query, r->context);
    XSync(r->query, False);
    bool notify_now = false;
    {
      std::lock_guard<std::mutex> lock(r->mutex);
      // Written here when F12 ended it; FreeHook(0) writes what a broken connection left.
      if (r->ending && !r->by_free) notify_now = r->WriteLocked();
      r->finished = true;
    }
    if (notify_now) Notify();
  }

  // Ends a finished replay's thread; the outcome stays readable.
  void ReapPlayer() {
    if (!player) return;
    bool finished;
    {
      std::lock_guard<std::mutex> lock(player->mutex);
      finished = player->finished;
    }
    if (!finished) return;
    last_complete = player->complete;
    player.reset();
  }

  bool RecorderFinished() {
    if (!recorder) return true;
    std::lock_guard<std::mutex> lock(recorder->mutex);
    return recorder->finished;
  }

  void CloseRecorder() {
    if (!recorder) return;
    if (recorder->thread.joinable()) recorder->thread.join();
    x11::Close(recorder->data);
    x11::Close(recorder->query);
    recorder.reset();
  }
};

CMsgSrc::CMsgSrc() : impl_(std::make_unique<Impl>()) {}

CMsgSrc::~CMsgSrc() {
  ClearNotifier();
  FreeHook(kPlaybackHook);
  if (impl_->recorder) {
    if (!impl_->RecorderFinished() && impl_->control != nullptr) {
      {
        std::lock_guard<std::mutex> lock(impl_->recorder->mutex);
        impl_->recorder->ending = true;
        impl_->recorder->by_free = true;
      }
      XRecordDisableContext(impl_->control, impl_->recorder->context);
      XSync(impl_->control, False);
    }
    impl_->CloseRecorder();
  }
  x11::Close(impl_->control);
}

DisplayState CMsgSrc::InitHook(WindowId window, HookNotifier notify, const std::string& display) {
  Impl& m = *impl_;
  {
    std::lock_guard<std::mutex> lock(m.notify_mutex);
    m.notify = std::move(notify);
  }
  m.window = window;
  const bool busy = m.recorder || m.player;
  if (!busy && (m.control == nullptr || x11::Broken(m.control) || display != m.display_name)) {
    x11::Close(m.control);
    m.display_name = display;
    m.control = x11::Open(display);
  }
  m.state = x11::Check(m.control);
  return m.state;
}

void CMsgSrc::ClearNotifier() {
  std::lock_guard<std::mutex> lock(impl_->notify_mutex);
  impl_->notify = nullptr;
}

DisplayState CMsgSrc::display_state() const {
  return x11::Broken(impl_->control) ? DisplayState::kNoDisplay : impl_->state;
}

int CMsgSrc::SetHook(int index) {
  Impl& m = *impl_;
  if (display_state() != DisplayState::kUsable) return 0;
  m.ReapPlayer();
  // A recording that ended by F12 is done with; one never written (FreeHook(0) not called
  // after a broken connection) is dropped.
  if (m.RecorderFinished()) m.CloseRecorder();
  if (m.recorder || m.player) return 0;
  std::error_code ec;
  const std::string directory = std::filesystem::current_path(ec).string();
  if (ec) return 0;

  if (index == kRecordHook) {
    auto r = std::make_unique<Recorder>();
    r->directory = directory;
    r->data = x11::Open(m.display_name);
    r->query = x11::Open(m.display_name);
    if (r->data == nullptr || r->query == nullptr) {
      x11::Close(r->data);
      x11::Close(r->query);
      return 0;
    }
    XRecordRange* range = XRecordAllocRange();
    if (range == nullptr) {
      x11::Close(r->data);
      x11::Close(r->query);
      return 0;
    }
    range->device_events.first = KeyPress;
    range->device_events.last = MotionNotify;
    XRecordClientSpec clients = XRecordAllClients;
    r->context = XRecordCreateContext(r->query, 0, &clients, 1, &range, 1);
    XFree(range);
    XSync(r->query, False);
    if (r->context == 0 || x11::Broken(r->query)) {
      x11::Close(r->data);
      x11::Close(r->query);
      return 0;
    }
    Recorder* raw = r.get();
    m.recorder = std::move(r);
    raw->thread = std::thread([&m, raw] { m.RecorderThread(raw); });
    return 1;
  }

  if (index == kPlaybackHook) {
    auto p = std::make_unique<Player>();
    RecordingHeader header;
    if (!ReadRecordingFile(directory + "/" + kRecordingFile, &header, &p->events)) return 0;
    p->saved_path = ReadPrefixFile(directory + "/" + kPrefixFile);
    p->display = x11::Open(m.display_name);
    if (x11::Check(p->display) != DisplayState::kUsable) return 0;
    Player* raw = p.get();
    m.player = std::move(p);
    raw->thread = std::thread([raw] { raw->Run(); });
    return 1;
  }
  return 0;
}

int CMsgSrc::FreeHook(int index) {
  Impl& m = *impl_;
  if (index == kPlaybackHook) {
    if (!m.player) return 1;
    {
      std::lock_guard<std::mutex> lock(m.player->mutex);
      m.player->stop = true;
      m.player->changed.notify_all();
    }
    m.player->thread.join();
    m.ReapPlayer();
    return 1;
  }
  if (index != kRecordHook) return 0;
  if (!m.recorder) return 1;
  Recorder& r = *m.recorder;
  if (!m.RecorderFinished()) {
    // Every event the server recorded before the context is disabled still arrives; then the
    // recorder's thread ends.
    const WindowRect stop_window = RootRect(m.control, m.window);
    {
      std::lock_guard<std::mutex> lock(r.mutex);
      r.have_stop_window = m.window != 0 && stop_window.right > stop_window.left;
      r.stop_window = stop_window;
    }
    XRecordDisableContext(m.control, r.context);
    XSync(m.control, False);
  }
  if (r.thread.joinable()) r.thread.join();
  bool notify_now = false;
  bool written;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.written) {
      // Ended here (or its writing after F12 failed): written now.
      if (!r.ending) {
        r.ending = true;
        r.by_free = true;
      }
      notify_now = r.WriteLocked();
    }
    written = r.written;
  }
  if (notify_now) m.Notify();
  if (!written) return 0;  // the recording stays, for another try
  m.CloseRecorder();
  return 1;
}

bool CMsgSrc::recording() const {
  return impl_->recorder && !impl_->RecorderFinished();
}

bool CMsgSrc::playing() const {
  if (!impl_->player) return false;
  std::lock_guard<std::mutex> lock(impl_->player->mutex);
  return !impl_->player->finished;
}

bool CMsgSrc::WaitForPlayback(int timeout_ms) {
  Impl& m = *impl_;
  if (!m.player) return true;
  {
    std::unique_lock<std::mutex> lock(m.player->mutex);
    if (!m.player->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                    [&m] { return m.player->finished; }))
      return false;
  }
  m.player->thread.join();
  m.ReapPlayer();
  return true;
}

bool CMsgSrc::last_playback_complete() const {
  if (impl_->player) {
    std::lock_guard<std::mutex> lock(impl_->player->mutex);
    if (impl_->player->finished) return impl_->player->complete;
    return false;
  }
  return impl_->last_complete;
}

}  // namespace filesaver
