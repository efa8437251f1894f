// The UPS simulator core: a pseudo-terminal whose slave end the agent opens as its serial
// port, the modem-line sideband for that device, one simulated device (a kind of UPS, or a
// modem) answering on the master end, a request log, and a text control channel.
//
// Control channel: one command per line, on standard input (answers on standard output) and
// on an optional Unix stream socket. Every answer ends with one line starting "OK" or "ERR";
// data lines may come before it. Commands:
//   help | status | quit
//   mode apc|contact|modem|pager|bcm|varnis   switch the device on the line
//   mains fail|ok                       battery low|ok
//   overload on|off                     replace-battery on|off       boost on|off
//   cable pulled|connected              silence on|off               garbage on|off
//   delay MS                            every answer waits MS before it goes out
//   split MS                            every answer goes out in two halves, MS apart
//   send HEX...   send-text TEXT        put bytes on the line now (\r \n \s \xHH escapes)
//   log | log-since N                   request log entries ("N KIND TEXT"), then "OK count"
//   wait COUNT MS                       answers once the log holds COUNT entries ("ERR timeout")
//   clear                               forget the log (numbering goes on)
//   ... and the device's own commands (apc: set, reply, reply-raw, selftest; bcm and varnis:
//   see tools/sim_bcm.h and tools/sim_varnis.h).
//
// Log kinds: REQ (a command the device understood), BYTES (raw bytes received), IGNORED (bytes
// at line settings the device cannot read), LOST (bytes sent while the cable is pulled), LINES
// (the computer changed DTR/RTS), ACTION (what the UPS did), STATE (a control change); the
// pager modem adds DIAL (a dial string) and PAGE (a page the paging company took).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/modem_sideband.h"
#include "platform/pseudo_terminal.h"
#include "tools/sim_device.h"

namespace upssim {

struct SimOptions {
  std::string mode = "apc";
  std::string control_path;  // Unix socket for control (none when empty)
  std::string log_path;      // file that receives every log entry too (none when empty)
  std::string link_path;     // symbolic link to the slave device (none when empty)
  bool stdin_control = true; // read commands on standard input; end at its end
};

class UpsSimulator : public SimContext {
 public:
  explicit UpsSimulator(SimOptions options);
  ~UpsSimulator() override;

  // Opens the pseudo-terminal, the sideband, the control socket. 0, or -1 with *error.
  int Start(std::string* error);
  // Serves until "quit", the end of standard input or RequestStop. Returns the exit status.
  int Run();
  // May be called from a signal handler.
  void RequestStop();

  const std::string& device_path() const { return pty_.slave_path(); }

  // SimContext
  void Send(const std::string& bytes) override;
  void Log(const std::string& kind, const std::string& text) override;
  void After(int ms, std::function<void()> action) override;
  platform::LineSettings Line() override;
  const UpsState& State() const override { return state_; }
  uint32_t HostLines() const override { return host_lines_; }

  // Runs one control line; the answer lines go to `out` (the last is "OK ..." or "ERR ...").
  // Exposed for the simulator's own tests; "wait" answers later through `reply`.
  void Execute(const std::string& line, const std::function<void(const std::string&)>& reply);

 private:
  struct Timer {
    unsigned generation;  // 0 = the core's own; else the device generation it belongs to
    std::function<void()> action;
  };
  struct Client {
    int in_fd = -1;
    int out_fd = -1;
    bool is_socket = false;
    std::string buffer;
    bool input_ended = false;  // the client sent all it will send; answers still go out
    bool closed = false;       // nothing more to read or answer: the socket goes
    bool discarding = false;   // skipping the rest of an over-long line
  };
  struct Waiter {
    int client_id;
    size_t count;
    uint64_t deadline;
  };

  void SidebandThread();
  void HandleWake();
  void HandleHostLines();
  void UpdateDeviceLines();
  void ReadMaster();
  void Emit(const std::string& bytes);
  void FlushOutput();
  void RunTimers();
  void AcceptClient();
  void ReadClient(int id);
  void ReplyTo(int id, const std::string& line);
  // A client whose input has ended is done once no "wait" of it is pending.
  void CloseIfDone(int id);
  void CheckWaiters();
  void SetDevice(std::unique_ptr<SimDevice> device);
  bool ChangeState(const std::vector<std::string>& w, std::string* error);
  std::string NextNoise(size_t size);

  SimOptions options_;
  platform::PseudoTerminal pty_;
  std::unique_ptr<platform::ModemSideband> sideband_;
  std::unique_ptr<SimDevice> device_;
  unsigned device_generation_ = 1;
  UpsState state_;
  uint32_t host_lines_ = 0;
  int delay_ms_ = 0;
  int split_ms_ = 0;
  uint32_t noise_ = 0x2545F491u;

  std::string output_;  // bytes waiting for room in the line
  std::multimap<uint64_t, Timer> timers_;

  std::vector<std::string> log_;
  size_t log_first_ = 0;  // number of the oldest entry kept
  int log_fd_ = -1;

  std::map<int, Client> clients_;
  int next_client_id_ = 1;
  std::vector<Waiter> waiters_;
  int listen_fd_ = -1;
  int wake_read_ = -1;
  int wake_write_ = -1;
  bool quit_ = false;
  std::atomic<bool> stop_thread_{false};
  std::thread sideband_thread_;
};

}  // namespace upssim
