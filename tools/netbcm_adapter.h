// Simulated BCM network adapter: a UPS behind an adapter that speaks the BCM protocol over UDP
// (see core/adapters/netbcm.h for the datagrams). It listens on one UDP address and port (7010 unless
// told otherwise; tests bind a loopback address and a port of the system's choice), checks
// every block's checksum and the access code, answers each query with its reply blocks split
// into blocks of `block-size` data bytes, keeps the UPS's state, carries out the commands
// (output and load segments off and on after their delays, battery test, settings), logs every
// request, and injects faults on demand.
//
// Answers:
//   status query            the status blocks (type 3) and the alarm blocks (type 5)
//   identification          the status blocks in front of the identification (type 1); then,
//                           in a second datagram, the configuration blocks (type 6) unless
//                           "config-datagram off"
//   configuration, ratings, meters, supported commands, load segments, battery test
//                           their one reply type
//   a command               the acknowledgement (type 9: result code, command); when a datagram
//                           holds more than one command, the first refusal or else the last
//                           acknowledgement. A command the supported-command list lacks is
//                           answered "2" (not implemented).
// A request with a wrong access code, or a command without one, gets no answer (DENIED in the
// log); so does a datagram with a block whose checksum is wrong (CHECKSUM).
//
// Control commands (one line each; the answer's last line starts "OK" or "ERR"):
//   status | help | log | log-since N | clear
//   mains fail|ok   battery low|ok   bypass on|off   buck on|off   boost on|off
//   overload on|off   replace-battery on|off   input-range on|off   alarm N on|off
//   set KEY VALUE   type-code, model (rest of the line), va, watts, phases, version M.mm,
//                   adapter-version M.mm, config-size, two-byte-delays 0|1, cto, serial,
//                   output-voltage, input-voltage, frequency, audible, low-battery-warning,
//                   access (the access code), block-size, segments, first-segment
//   meter ID FORMAT VALUE | meter ID off      (a format above 223: a 32-bit integer; the
//                   battery's charge (35, percent) and run time (36, seconds) otherwise come
//                   from the battery, which runs down on battery: tools/sim_battery.h)
//   commands N,N,...                          the supported-command list
//   test-result pass|fail [SECONDS]           the outcome of the next battery tests
//   config-datagram on|off
//   fault busy|corrupt|gap|short|silence|late [N]  the next N answers (1): the busy answer
//                   (acknowledgement "3"), a wrong checksum in the first block, block numbers
//                   1, 3, the datagram cut to half, no answer, the previous answer's datagram
//                   sent again in front (as if it had come late)
//   silence on|off                            no answer at all until switched off
//   reply-delay MS                            every answer goes out MS milliseconds late
//
// Log entries ("N KIND TEXT"): RECV (a request datagram, hex), REQ (what it asked), DENIED,
// CHECKSUM, FAULT, ACTION (what the UPS did), STATE (a control change).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tools/sim_battery.h"

namespace netbcmsim {

struct AdapterOptions {
  std::string bind = "127.0.0.1";
  int port = 7010;  // 0: a port of the system's choice
};

class NetBcmAdapter {
 public:
  explicit NetBcmAdapter(AdapterOptions options = {});
  ~NetBcmAdapter();
  NetBcmAdapter(const NetBcmAdapter&) = delete;
  NetBcmAdapter& operator=(const NetBcmAdapter&) = delete;

  // Binds the socket and starts serving. 0, or -1 with *error.
  int Start(std::string* error);
  void Stop();
  uint16_t port() const { return port_; }
  const std::string& address() const { return options_.bind; }

  // Runs one control line: the answer lines, the last "OK ..." or "ERR ...".
  std::vector<std::string> Control(const std::string& line);
  // Control, true when it answered OK (tests).
  bool Do(const std::string& line);

  // The datagrams the adapter sends in answer to one request (faults included).
  std::vector<std::vector<uint8_t>> Answer(const std::vector<uint8_t>& request);

  // The log, oldest first, and every request datagram received.
  std::vector<std::string> Log() const;
  std::vector<std::vector<uint8_t>> Received() const;
  // Log entries of one kind ("ACTION", ...), their texts only.
  std::vector<std::string> Entries(const std::string& kind) const;
  // Waits until an entry containing `text` is logged. True when one is.
  bool WaitFor(const std::string& text, int timeoutMs) const;
  // Where the last request datagram on the socket came from ("a.b.c.d", port); false before
  // the first.
  bool LastRequester(std::string* ip, uint16_t* port) const;
  void ClearLog();

 private:
  struct Pending {
    int indicator;
    bool on;
    std::string why;
  };
  struct Meter {
    int format;
    double value;
  };
  struct Reply {
    uint8_t type;
    std::vector<uint8_t> data;
  };

  void Serve();
  void AddLog(const std::string& kind, const std::string& text);
  void RunDue();
  void Schedule(int indicator, bool on, int64_t seconds, const std::string& why);
  void Switch(int indicator, bool on, const std::string& why);

  std::vector<std::vector<uint8_t>> AnswerLocked(const std::vector<uint8_t>& request);
  std::vector<Reply> Query(uint8_t query, std::vector<std::vector<Reply>>* more);
  uint8_t Command(const std::vector<uint8_t>& payload, int select);
  std::vector<uint8_t> Blocks(const Reply& reply, size_t blockSize, bool gap) const;

  std::vector<uint8_t> StatusData() const;
  std::vector<uint8_t> AlarmData() const;
  std::vector<uint8_t> IdentificationData() const;
  std::vector<uint8_t> ConfigData() const;
  std::vector<uint8_t> RatingsData() const;
  std::vector<uint8_t> MeterData() const;
  std::vector<uint8_t> CommandsData() const;
  std::vector<uint8_t> SegmentsData() const;
  uint8_t BatteryTestState();
  std::set<int> ActiveAlarms() const;

  bool ControlLocked(const std::vector<std::string>& w, const std::string& line, std::string* error,
                     std::vector<std::string>* lines);
  std::string Describe() const;

  AdapterOptions options_;
  int fd_ = -1;
  int wake_read_ = -1;
  int wake_write_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};

  mutable std::mutex mutex_;
  mutable std::condition_variable logged_;
  std::vector<std::string> log_;
  size_t log_first_ = 0;
  std::vector<std::vector<uint8_t>> received_;
  std::string last_ip_;
  uint16_t last_port_ = 0;

  // The UPS.
  bool mains_ok_ = true;
  bool battery_low_ = false;
  bool bypass_ = false;
  bool buck_ = false;
  bool boost_ = false;
  bool overload_ = false;
  bool replace_battery_ = false;
  bool input_range_ = false;
  std::set<int> raised_;
  bool output_on_ = true;
  int type_code_ = 80;
  std::string model_ = "PowerGuard 1500";
  int va_ = 1500;
  int watts_ = 1050;
  int phases_ = 1;
  int version_major_ = 1;
  int version_minor_ = 2;
  int adapter_major_ = 3;
  int adapter_minor_ = 50;
  int config_size_ = 80;
  bool two_byte_delays_ = false;
  std::string cto_ = "CTO-4711";
  std::string serial_ = "SN0012345";
  int output_voltage_ = 230;
  int input_voltage_ = 230;
  int frequency_ = 50;
  uint8_t audible_ = 1;
  uint8_t low_battery_warning_ = 2;
  std::map<int, Meter> meters_;
  std::set<int> pinned_meters_;  // set by "meter": sent as given
  upssim::SimBattery battery_{42 * 60};
  std::vector<int> commands_;
  int segments_ = 3;
  int first_segment_ = 2;
  std::map<int, int> segment_state_;       // indicator -> 2 on, 1 off
  std::map<int, int> restart_delay_;       // indicator -> seconds
  std::multimap<uint64_t, Pending> pending_;
  // Battery test: 0 none, 1 running, 2 passed, 4 failed.
  uint8_t test_state_ = 0;
  bool test_fails_ = false;
  int test_seconds_ = -1;  // -1: as long as the command asks
  uint64_t test_end_ = 0;

  // The adapter.
  std::string access_ = "KelpR3";
  size_t block_size_ = 64;
  bool config_datagram_ = true;
  bool silent_ = false;
  std::atomic<int> reply_delay_ms_{0};
  std::map<std::string, int> faults_;  // kind -> answers still to spoil
  std::vector<uint8_t> previous_answer_;  // the main datagram of the last answer
};

}  // namespace netbcmsim
