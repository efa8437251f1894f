// The simulated device on the far end of the serial line, one class per kind of UPS (or a
// modem). The simulator core (ups_simulator.h) owns the pseudo-terminal, the modem-line
// sideband, the control channel and the request log; a device only turns what the computer
// sends into answers and tells which modem lines it drives.
//
// Adding a kind: derive from SimDevice, register its name in MakeSimDevice (sim_device.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_line.h"

namespace upssim {

// What a person or a test can change while the simulator runs; shared by every kind.
struct UpsState {
  bool mains_ok = true;         // false: running on battery
  bool battery_low = false;
  bool overload = false;
  bool replace_battery = false; // the battery failed its test / is worn out
  bool boost = false;           // raising a low input voltage
  bool cable_connected = true;  // false: nothing gets through, the device lines drop
  bool silent = false;          // the device receives but never answers
  bool garbage = false;         // every answer is replaced by noise of the same length
};

// What the core offers a device.
class SimContext {
 public:
  virtual ~SimContext() = default;
  // Sends bytes to the computer (subject to cable, silence, garbage, delay and split).
  virtual void Send(const std::string& bytes) = 0;
  // Appends one entry to the request log ("REQ Y", "ACTION output off", ...).
  virtual void Log(const std::string& kind, const std::string& text) = 0;
  // Runs `action` after `ms` milliseconds (on the simulator's own thread).
  virtual void After(int ms, std::function<void()> action) = 0;
  // The line settings the computer has set on its end right now.
  virtual platform::LineSettings Line() = 0;
  virtual const UpsState& State() const = 0;
  virtual uint32_t HostLines() const = 0;
};

class SimDevice {
 public:
  virtual ~SimDevice() = default;
  virtual std::string Name() const = 0;
  // Bytes the computer sent (already past the cable).
  virtual void OnBytes(SimContext& ctx, const uint8_t* data, size_t size) = 0;
  // The computer changed DTR or RTS (the core has logged it).
  virtual void OnHostLines(SimContext& ctx, uint32_t before, uint32_t now) {
    (void)ctx;
    (void)before;
    (void)now;
  }
  // The modem lines the device drives with the cable connected, given the computer's lines.
  virtual uint32_t DeviceLines(const UpsState& state, uint32_t host_lines) const = 0;
  // The UPS state changed through the control channel.
  virtual void OnStateChanged(SimContext& ctx, const UpsState& before) {
    (void)ctx;
    (void)before;
  }
  // A control command of this kind ("set", "reply", "selftest", ...). Returns false when the
  // command is not this kind's; otherwise leaves `error` empty (done) or fills it, and may
  // add data lines to `lines`.
  virtual bool Control(SimContext& ctx, const std::vector<std::string>& words, std::string* error,
                       std::vector<std::string>* lines) {
    (void)ctx;
    (void)words;
    (void)error;
    (void)lines;
    return false;
  }
  // One line of this kind's own state for "status".
  virtual std::string Describe() const { return ""; }
};

// The device of a kind ("apc", "contact", "modem", "pager", "bcm", "varnis"); null for an unknown name.
std::unique_ptr<SimDevice> MakeSimDevice(const std::string& kind);
// The names MakeSimDevice knows, for help texts.
std::vector<std::string> SimDeviceKinds();

// Helpers shared by the kinds, the core and the network adapter.
std::string HexBytes(const uint8_t* data, size_t size);
// The words of a control line, split at white space.
std::vector<std::string> Words(const std::string& line);
// A whole decimal number within lo..hi; false (and *out unchanged) otherwise.
bool ParseNumber(const std::string& text, long lo, long hi, long* out);
std::string Printable(const std::string& bytes);  // \r, \n, \xHH for the rest
// Undoes Printable-style escapes (\r \n \t \\ \xHH); false on a malformed escape.
bool Unescape(const std::string& text, std::string* out);
std::string LineText(const platform::LineSettings& line);  // "2400 8N1"

}  // namespace upssim
