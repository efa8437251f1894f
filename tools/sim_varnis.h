// Simulated Varnis II UPS: a line protocol at 1200 bit/s, 8N1. The computer sends a command
// word ended by CR, for some commands followed by an argument line ("UPSN" CR "0" CR); empty
// lines are skipped. Every answer is key CR value CR pairs. Bytes at another speed are noise
// to it (IGNORED, no answer).
//
//   UPTP  type plate: NNAME, NOUNN, NIUNN, NOSNN, NOPNN, NOFHH
//   UPSN 0  serial number: ACSN            UPDV  nominal limits: NOUHH NOULL NIUHH NIULL
//   UPDS  meters: MIUL1 MOUL1 MOFFF MOIL1 MOPL1 MOSL1 MBUUU MBCH1 BTIME MUTE1 (BTIME: the
//         run time left in seconds, running down on battery)
//   UPSS  status: STOK STBO STBL STBP STBM STLR STAT
//   UPCL  capability list, one command word per line (set with "capabilities")
//   UPIS, UPBT x  start the general systems test (no answer)
//   UPSD n  shutdown delay (answer ACSD n)      UPCD n  second delay (answer ACCD n)
//   UPPC TOVRABSENK  carries out the shutdown: output off after the shutdown delay
// Binary load commands at the start of a line: 0x80, command, n, data, sum. A good frame is
// echoed byte for byte and carried out (2 off after minutes, 3 on after minutes, 4 off after
// half seconds, 5 restart delay, 6 on now, 7 arm); command 0 is answered 0x80 0 1 count sum.
// A frame whose sum is wrong is not answered.
//
// Control commands: set name|serial TEXT | set capacity PERCENT (the charge now) | set
// runtime SECONDS (of a full battery) | capabilities WORD,WORD,... | segments N |
// bypass on|off | echo-fail N (the next N binary frames are not echoed).
#pragma once

#include <string>
#include <vector>

#include "tools/sim_battery.h"
#include "tools/sim_device.h"

namespace upssim {

class VarnisUps : public SimDevice {
 public:
  static constexpr uint32_t kBps = 1200;

  VarnisUps();
  std::string Name() const override { return "varnis"; }
  void OnBytes(SimContext& ctx, const uint8_t* data, size_t size) override;
  uint32_t DeviceLines(const UpsState& state, uint32_t host_lines) const override;
  void OnStateChanged(SimContext& ctx, const UpsState& before) override;
  bool Control(SimContext& ctx, const std::vector<std::string>& words, std::string* error,
               std::vector<std::string>* lines) override;
  std::string Describe() const override;

 private:
  void Line(SimContext& ctx, const std::string& line);
  void Command(SimContext& ctx, const std::string& word, const std::string& argument);
  void Binary(SimContext& ctx, const std::vector<uint8_t>& frame);
  void Answer(SimContext& ctx, const std::vector<std::pair<std::string, std::string>>& pairs);
  bool LineIsRight(SimContext& ctx);

  std::string line_;
  std::string pending_;               // a command waiting for its argument line
  std::vector<uint8_t> frame_;        // a binary frame being received
  std::string name_ = "HLC-1500 UPS SW2.10";
  std::string serial_ = "000123456";
  std::vector<std::string> capabilities_;
  int segments_ = 2;
  bool bypass_ = false;
  int echo_fail_ = 0;
  int shutdown_delay_ = -1;
  int second_delay_ = -1;
  bool output_on_ = true;
  bool test_running_ = false;
  SimBattery battery_{45 * 60};
};

}  // namespace upssim
