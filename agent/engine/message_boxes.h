// Where the agent's message boxes appear. A layer shows one box and returns when it is closed
// (or, where a box cannot stay open, once the text is delivered); Close closes the open box of
// a caption so that the next one can take its place. The agent keeps one box open at a time
// (KT_OSServices::WarnAdmin closes the old one before a new one is shown).
//
// The daemon's layer: in the foreground a line on standard output; as a service the system log
// under "VigilNT" and, unless the service settings say otherwise, the terminals of the
// logged-in users. A line on a terminal cannot be taken back, so its Close has nothing to do.
// The desktop agent brings a layer with real boxes.
#pragma once

#include <cstdint>
#include <string>

class KT_MessageBoxes {
 public:
  virtual ~KT_MessageBoxes() = default;
  // Shows the box; returns when it has been closed (or delivered).
  virtual void Show(const std::string& text, const std::string& caption, uint32_t flags) = 0;
  // Closes the open box with this caption; false when there is none to close.
  virtual bool Close(const std::string& caption) = 0;
  // A box thread for this caption is about to start (called before the thread runs, after the
  // previous box was closed), so that a Close arriving before the thread's Show still finds it.
  virtual void Starting(const std::string& caption) { (void)caption; }
};

class KT_DaemonMessageBoxes : public KT_MessageBoxes {
 public:
  explicit KT_DaemonMessageBoxes(bool consoleMode) : console_mode_(consoleMode) {}
  void Show(const std::string& text, const std::string& caption, uint32_t flags) override;
  bool Close(const std::string&) override { return false; }

 private:
  bool console_mode_;
};
