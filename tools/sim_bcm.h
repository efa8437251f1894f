// Simulated BCM UPS: the maker's binary protocol (core/adapters/bcm_block.h) at one line speed (1200
// bit/s unless set otherwise); bytes at any other speed are noise to it (IGNORED, no answer).
//
// Requests are blocks 0xAB n payload sum; a block whose checksum is wrong, or bytes before a
// start byte, are dropped (logged as BYTES). Replies are split into blocks of at most
// `block-size` data bytes (64), numbered from 1 with bit 7 on the last one.
//
//   '1' identification: version, VA rating, phases, model name, meter map (ids 1..72),
//       alarm map (numbers 0..199), configuration size
//   '2' alarm history (records of mains, overload and battery events, BCD local time)
//   '3' status: 'P' when all is well; else byte 0 'b' boost / 'c' buck / 'B' battery / 'N',
//       byte 1: 0x80 on mains, 0x20 low battery, 0x04 bypass
//   '4' meters (the battery time in seconds, running down on battery)
//   '5' active alarms (57 on battery, 25 overload, 191 replace battery, 6 input out of range,
//       and any number raised with "alarm N on")
//   '6' configuration (type code, nominal output, CTO, serial)      '<' ratings
//   ':' waveform (code 2 input voltage, rectified; 1 output voltage; 8 output current): one
//       cycle in 64 samples of 8 bits with a zero line and a scale to volts or milliamperes,
//       the readings' RMS values with a few odd harmonics; the input as the UPS's sensing
//       circuit passes it
//   ';' battery-test state (0 none, 1 running, 2 passed, 3 not done, 4 failed)
//   '@' supported commands     'A' load segments     0xA0 resynchronise (acknowledged)
// Commands need the authorization block (core/base/maker_codes.h) right before them; without it
// they are acknowledged "4" (unrecognized) and not carried out:
//   138 delayed off (1 or 2 delay bytes), 145 / 147 on / off after minutes, 146 / 148 on / off
//   at a BCD date, 149 set audible alarm (6) / low-battery warning (5), 151 segment
//   parameter (2 restart delay, 3 off, 4 on), 177 battery test (seconds).
//
// Optional service menu ("menu on"): the UPS starts in a text menu. It answers a DTR pulse
// with its banner (noise when the computer's speed is not its own) and menu keys: 3, '2',
// '1' answer with a ">>>" prompt, 'l' with ">+>", 'S' and 'Q' leave the menu for BCM mode.
// "fallback" drops a running UPS back into its menu, as some models do.
//
// Control commands: speed BPS | menu on|off | fallback | block-size N | junk on|off |
// corrupt (next reply's checksum) | bypass on|off | buck on|off | input-range on|off |
// alarm N on|off | segments N | set KEY VALUE (type-code, model, va, version, phases,
// watts, config-size, output-voltage, input-voltage, frequency, battery-voltage, capacity
// (the charge now, percent), runtime (seconds of a full battery), temperature, load-va,
// load-watts, output-current) | test-result pass|fail [SECONDS]
// (the outcome of the next battery tests, and how long they run) |
// commands N,N,... (the supported-command list).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/sim_battery.h"
#include "tools/sim_device.h"

namespace upssim {

class BcmUps : public SimDevice {
 public:
  BcmUps();
  std::string Name() const override { return "bcm"; }
  void OnBytes(SimContext& ctx, const uint8_t* data, size_t size) override;
  void OnHostLines(SimContext& ctx, uint32_t before, uint32_t now) override;
  uint32_t DeviceLines(const UpsState& state, uint32_t host_lines) const override;
  void OnStateChanged(SimContext& ctx, const UpsState& before) override;
  bool Control(SimContext& ctx, const std::vector<std::string>& words, std::string* error,
               std::vector<std::string>* lines) override;
  std::string Describe() const override;

 private:
  struct HistoryRecord {
    int number;
    bool cleared;
    int64_t time;
  };

  bool SpeedIsRight(SimContext& ctx);
  void MenuKey(SimContext& ctx, uint8_t key);
  void Frame(SimContext& ctx, const std::vector<uint8_t>& payload);
  void Request(SimContext& ctx, uint8_t request, const std::vector<uint8_t>& payload);
  void Command(SimContext& ctx, const std::vector<uint8_t>& payload);
  void Reply(SimContext& ctx, uint8_t type, const std::vector<uint8_t>& data);
  void Ack(SimContext& ctx, uint8_t code, uint8_t command);
  void SendText(SimContext& ctx, const std::string& text);

  std::vector<uint8_t> Identification() const;
  std::vector<uint8_t> Status(const UpsState& s) const;
  std::vector<uint8_t> Meters(const UpsState& s) const;
  std::vector<uint8_t> ActiveAlarms(const UpsState& s) const;
  std::vector<uint8_t> History() const;
  std::vector<uint8_t> Config() const;
  std::vector<uint8_t> Ratings() const;
  std::vector<uint8_t> Waveform(uint8_t code, uint8_t value, const UpsState& s) const;

  void OutputOffIn(SimContext& ctx, int64_t seconds, const std::string& why);
  void OutputOnIn(SimContext& ctx, int64_t seconds, const std::string& why);
  void AddHistory(int number, bool cleared);

  uint32_t speed_ = 1200;
  std::vector<uint8_t> input_;
  bool menu_enabled_ = false;
  bool in_menu_ = false;
  bool authorized_ = false;
  size_t block_size_ = 64;
  bool junk_ = false;
  bool corrupt_next_ = false;
  bool bypass_ = false;
  bool buck_ = false;
  bool input_range_ = false;
  std::set<int> raised_alarms_;
  int segments_ = 1;
  std::vector<int> commands_;
  std::map<std::string, double> values_;
  SimBattery battery_{45 * 60};
  std::string model_;
  int type_code_ = 80;
  int version_major_ = 1;
  int version_minor_ = 2;
  int phases_ = 1;
  int va_ = 1500;
  int watts_ = 1050;
  uint8_t audible_ = 1;
  uint8_t low_battery_warning_ = 2;
  std::map<int, int> segment_restart_delay_;
  std::vector<HistoryRecord> history_;
  // Battery test: 0 none yet, 1 running, 2 passed, 3 not performed, 4 failed.
  uint8_t test_state_ = 0;
  bool test_fails_ = false;
  int test_seconds_ = -1;  // -1: as long as the command asks
  int config_size_ = 80;   // announced by the identification; 0: no configuration block
  bool output_on_ = true;
};

}  // namespace upssim
