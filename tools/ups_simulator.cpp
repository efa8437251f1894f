#include "tools/ups_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/clock.h"

namespace upssim {

namespace {

constexpr size_t kMaxOutput = 1 << 20;      // bytes waiting for the computer to read
constexpr size_t kMaxLogEntries = 200000;   // older entries are dropped, numbering goes on
constexpr size_t kMaxControlLine = 4096;
constexpr int kMaxDelayMs = 600000;

// The simulator runs in real time, whatever clock the process may have installed.
uint64_t NowMs() { return platform::SystemClock().TickMs(); }

void WriteAllBlocking(int fd, const std::string& text, bool socket) {
  size_t off = 0;
  while (off < text.size()) {
    const ssize_t n = socket ? ::send(fd, text.data() + off, text.size() - off, MSG_NOSIGNAL)
                             : ::write(fd, text.data() + off, text.size() - off);
    if (n > 0) {
      off += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 1000) <= 0) return;  // a reader that does not read loses the answer
      continue;
    }
    return;
  }
}

std::string LinesText(uint32_t lines) {
  std::string t;
  auto add = [&](uint32_t bit, const char* name) {
    if (lines & bit) t += (t.empty() ? "" : ",") + std::string(name);
  };
  add(platform::kLineDtr, "DTR");
  add(platform::kLineRts, "RTS");
  add(platform::kLineCts, "CTS");
  add(platform::kLineDcd, "DCD");
  add(platform::kLineRi, "RI");
  add(platform::kLineDsr, "DSR");
  return t.empty() ? "none" : t;
}

const char* const kHelp[] = {
    "help | status | quit",
    "mode KIND (apc, contact, modem, pager, bcm, varnis)",
    "mains fail|ok        battery low|ok        overload on|off",
    "replace-battery on|off   boost on|off      cable pulled|connected",
    "silence on|off       garbage on|off        delay MS    split MS",
    "send HEX...          send-text TEXT (escapes \\r \\n \\s \\xHH)",
    "log | log-since N | wait COUNT MS | clear",
    "apc: set KEY VALUE | reply CMD TEXT|none|default | reply-raw CMD TEXT | selftest OK|BT|NG [POLLS]",
    "apc: second MS (one second of the UPS's shutdown delays lasts MS ms)",
    "bcm: speed BPS | menu on|off | fallback | block-size N | junk on|off | corrupt | bypass on|off |",
    "     buck on|off | input-range on|off | alarm N on|off | segments N | commands N,N,... |",
    "     test-result pass|fail | set KEY VALUE",
    "varnis: set name|serial TEXT | set capacity|runtime N | capabilities WORD,...|none | segments N | "
    "bypass on|off | echo-fail N",
};

}  // namespace

UpsSimulator::UpsSimulator(SimOptions options) : options_(std::move(options)) {}

UpsSimulator::~UpsSimulator() {
  stop_thread_ = true;
  if (sideband_thread_.joinable()) sideband_thread_.join();
  for (auto& [id, c] : clients_) {
    if (c.is_socket && c.in_fd >= 0) ::close(c.in_fd);
  }
  if (listen_fd_ >= 0) {
    ::close(listen_fd_);
    ::unlink(options_.control_path.c_str());
  }
  if (!options_.link_path.empty()) {
    struct stat st {};
    if (::lstat(options_.link_path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      ::unlink(options_.link_path.c_str());
    }
  }
  if (log_fd_ >= 0) ::close(log_fd_);
  if (wake_read_ >= 0) ::close(wake_read_);
  if (wake_write_ >= 0) ::close(wake_write_);
}

int UpsSimulator::Start(std::string* error) {
  device_ = MakeSimDevice(options_.mode);
  if (!device_) {
    *error = "unknown mode " + options_.mode;
    return -1;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return -1;
  }
  wake_read_ = fds[0];
  wake_write_ = fds[1];
  if (int e = pty_.Open()) {
    *error = std::string("pseudo-terminal: ") + std::strerror(e);
    return -1;
  }
  int e = 0;
  sideband_ = platform::ModemSideband::Create(pty_.slave_path(), &e);
  if (!sideband_) {
    *error = std::string("modem-line sideband: ") + std::strerror(e);
    return -1;
  }
  UpdateDeviceLines();
  if (!options_.log_path.empty()) {
    log_fd_ = ::open(options_.log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log_fd_ < 0) {
      *error = "log " + options_.log_path + ": " + std::strerror(errno);
      return -1;
    }
  }
  if (!options_.link_path.empty()) {
    struct stat st {};
    if (::lstat(options_.link_path.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        *error = options_.link_path + " exists and is not a link";
        return -1;
      }
      ::unlink(options_.link_path.c_str());
    }
    if (::symlink(pty_.slave_path().c_str(), options_.link_path.c_str()) != 0) {
      *error = "link " + options_.link_path + ": " + std::strerror(errno);
      return -1;
    }
  }
  if (!options_.control_path.empty()) {
    sockaddr_un addr{};
    if (options_.control_path.size() >= sizeof addr.sun_path) {
      *error = "control path too long";
      return -1;
    }
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, options_.control_path.data(), options_.control_path.size());
    ::unlink(options_.control_path.c_str());
    if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 8) != 0) {
      *error = "control socket " + options_.control_path + ": " + std::strerror(errno);
      return -1;
    }
  }
  if (options_.stdin_control) {
    Client c;
    c.in_fd = 0;
    c.out_fd = 1;
    clients_[next_client_id_++] = c;
  }
  sideband_thread_ = std::thread([this] { SidebandThread(); });
  return 0;
}

void UpsSimulator::RequestStop() {
  const char q = 'q';
  if (wake_write_ >= 0) {
    ssize_t r = ::write(wake_write_, &q, 1);
    (void)r;
  }
}

void UpsSimulator::SidebandThread() {
  // Counted from the region's creation: changes the port made before this thread got to run
  // are handled on its first round.
  uint32_t seen = 0;
  while (!stop_thread_) {
    const uint32_t now = sideband_->WaitHostChange(seen, 200);
    if (now != seen) {
      seen = now;
      const char l = 'l';
      ssize_t r = ::write(wake_write_, &l, 1);
      (void)r;
    }
  }
}

platform::LineSettings UpsSimulator::Line() {
  platform::LineSettings line;
  if (platform::GetLineSettings(pty_.master(), &line) != 0) line.bps = 0;
  return line;
}

void UpsSimulator::Log(const std::string& kind, const std::string& text) {
  const size_t index = log_first_ + log_.size();
  std::string entry = std::to_string(index) + " " + kind + (text.empty() ? "" : " " + text);
  if (log_fd_ >= 0) WriteAllBlocking(log_fd_, entry + "\n", false);
  log_.push_back(std::move(entry));
  if (log_.size() > kMaxLogEntries) {
    log_.erase(log_.begin(), log_.begin() + static_cast<long>(log_.size() - kMaxLogEntries));
    log_first_ = index + 1 - log_.size();
  }
  CheckWaiters();
}

void UpsSimulator::After(int ms, std::function<void()> action) {
  timers_.emplace(NowMs() + static_cast<uint64_t>(ms < 0 ? 0 : ms), Timer{device_generation_, std::move(action)});
}

std::string UpsSimulator::NextNoise(size_t size) {
  std::string out(size, '\0');
  for (auto& c : out) {
    noise_ ^= noise_ << 13;
    noise_ ^= noise_ >> 17;
    noise_ ^= noise_ << 5;
    c = static_cast<char>(noise_ & 0xFF);
  }
  return out;
}

void UpsSimulator::Send(const std::string& bytes) {
  if (bytes.empty() || !state_.cable_connected || state_.silent) return;
  const std::string data = state_.garbage ? NextNoise(bytes.size()) : bytes;
  if (delay_ms_ == 0 && split_ms_ == 0) {
    Emit(data);
    return;
  }
  const size_t half = split_ms_ > 0 ? (data.size() + 1) / 2 : data.size();
  const std::string first = data.substr(0, half);
  const std::string rest = data.substr(half);
  timers_.emplace(NowMs() + static_cast<uint64_t>(delay_ms_), Timer{0, [this, first] { Emit(first); }});
  if (!rest.empty()) {
    timers_.emplace(NowMs() + static_cast<uint64_t>(delay_ms_ + split_ms_),
                    Timer{0, [this, rest] { Emit(rest); }});
  }
}

void UpsSimulator::Emit(const std::string& bytes) {
  if (!state_.cable_connected) return;  // pulled while the answer was on its way
  const size_t room = kMaxOutput > output_.size() ? kMaxOutput - output_.size() : 0;
  output_.append(bytes, 0, std::min(room, bytes.size()));
  FlushOutput();
}

void UpsSimulator::FlushOutput() {
  while (!output_.empty()) {
    const ssize_t n = ::write(pty_.master(), output_.data(), output_.size());
    if (n > 0) {
      output_.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) output_.clear();
    return;
  }
}

void UpsSimulator::ReadMaster() {
  uint8_t buf[4096];
  for (;;) {
    const ssize_t n = ::read(pty_.master(), buf, sizeof buf);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    if (!state_.cable_connected) {
      Log("LOST", HexBytes(buf, static_cast<size_t>(n)));
      continue;
    }
    device_->OnBytes(*this, buf, static_cast<size_t>(n));
    UpdateDeviceLines();  // a device may raise or drop lines as it answers (a modem's DCD)
  }
}

void UpsSimulator::UpdateDeviceLines() {
  const uint32_t lines = state_.cable_connected ? device_->DeviceLines(state_, host_lines_) : 0;
  sideband_->SetDeviceLines(lines);
}

void UpsSimulator::HandleHostLines() {
  const uint32_t count = sideband_->HostChangeCount();
  const uint32_t lines = sideband_->HostLines() & platform::kHostLines;
  if (lines != host_lines_) {
    const uint32_t before = host_lines_;
    host_lines_ = lines;
    Log("LINES", std::string("DTR=") + ((lines & platform::kLineDtr) ? "1" : "0") +
                     " RTS=" + ((lines & platform::kLineRts) ? "1" : "0"));
    if (state_.cable_connected) device_->OnHostLines(*this, before, lines);
  }
  UpdateDeviceLines();
  sideband_->Acknowledge(count);
}

void UpsSimulator::HandleWake() {
  char buf[64];
  bool lines = false;
  for (;;) {
    const ssize_t n = ::read(wake_read_, buf, sizeof buf);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] == 'q') quit_ = true;
      if (buf[i] == 'l') lines = true;
    }
  }
  if (lines) HandleHostLines();
}

void UpsSimulator::RunTimers() {
  const uint64_t now = NowMs();
  while (!timers_.empty() && timers_.begin()->first <= now) {
    Timer t = std::move(timers_.begin()->second);
    timers_.erase(timers_.begin());
    if (t.generation == 0 || t.generation == device_generation_) {
      t.action();
      UpdateDeviceLines();
    }
  }
  // Waiters whose time is up.
  for (size_t i = 0; i < waiters_.size();) {
    if (waiters_[i].deadline <= now) {
      const Waiter w = waiters_[i];
      waiters_.erase(waiters_.begin() + static_cast<long>(i));
      ReplyTo(w.client_id, "ERR timeout " + std::to_string(log_first_ + log_.size()));
      CloseIfDone(w.client_id);
    } else {
      ++i;
    }
  }
}

void UpsSimulator::CheckWaiters() {
  const size_t total = log_first_ + log_.size();
  for (size_t i = 0; i < waiters_.size();) {
    if (total >= waiters_[i].count) {
      const Waiter w = waiters_[i];
      waiters_.erase(waiters_.begin() + static_cast<long>(i));
      ReplyTo(w.client_id, "OK " + std::to_string(total));
      CloseIfDone(w.client_id);
    } else {
      ++i;
    }
  }
}

void UpsSimulator::ReplyTo(int id, const std::string& line) {
  auto it = clients_.find(id);
  if (it == clients_.end() || it->second.closed) return;
  WriteAllBlocking(it->second.out_fd, line + "\n", it->second.is_socket);
}

void UpsSimulator::CloseIfDone(int id) {
  auto it = clients_.find(id);
  if (it == clients_.end() || !it->second.input_ended) return;
  for (const Waiter& w : waiters_) {
    if (w.client_id == id) return;
  }
  it->second.closed = true;
}

void UpsSimulator::AcceptClient() {
  for (;;) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    Client c;
    c.in_fd = fd;
    c.out_fd = fd;
    c.is_socket = true;
    clients_[next_client_id_++] = c;
  }
}

void UpsSimulator::ReadClient(int id) {
  Client& c = clients_[id];
  char buf[1024];
  for (;;) {
    const ssize_t n = ::read(c.in_fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;  // EAGAIN: all read
    if (n == 0) {
      // The client has sent everything (it may have shut down only its sending side and
      // still wait for the answers): its commands are run and answered first.
      c.input_ended = true;
      if (!c.is_socket) quit_ = true;  // standard input ended: the controlling program is gone
      break;
    }
    std::string chunk(buf, static_cast<size_t>(n));
    if (c.discarding) {
      const size_t nl = chunk.find('\n');
      if (nl == std::string::npos) {
        chunk.clear();
      } else {
        chunk.erase(0, nl + 1);
        c.discarding = false;
      }
    }
    c.buffer += chunk;
    if (!c.is_socket) break;  // standard input may block; take one chunk per wake-up
  }
  // A last command without its line end counts once the input has ended.
  if (c.input_ended && c.is_socket && !c.buffer.empty() && !c.discarding) c.buffer += '\n';
  size_t pos;
  while (!quit_ && (pos = c.buffer.find('\n')) != std::string::npos) {
    std::string line = c.buffer.substr(0, pos);
    c.buffer.erase(0, pos + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Execute(line, [this, id](const std::string& l) { ReplyTo(id, l); });
    // "wait" registers with the client id it is called for.
    for (auto& w : waiters_) {
      if (w.client_id == 0) w.client_id = id;
    }
  }
  if (c.buffer.size() > kMaxControlLine) {
    c.buffer.clear();
    c.discarding = true;
    ReplyTo(id, "ERR line too long");
  }
  CloseIfDone(id);
}

void UpsSimulator::SetDevice(std::unique_ptr<SimDevice> device) {
  device_ = std::move(device);
  ++device_generation_;  // timers of the old device never fire
  UpdateDeviceLines();
}

bool UpsSimulator::ChangeState(const std::vector<std::string>& w, std::string* error) {
  struct Switch {
    const char* name;
    const char* on;
    const char* off;
    bool UpsState::*field;
  };
  static const Switch kSwitches[] = {
      {"mains", "ok", "fail", &UpsState::mains_ok},
      {"battery", "low", "ok", &UpsState::battery_low},
      {"overload", "on", "off", &UpsState::overload},
      {"replace-battery", "on", "off", &UpsState::replace_battery},
      {"boost", "on", "off", &UpsState::boost},
      {"cable", "connected", "pulled", &UpsState::cable_connected},
      {"silence", "on", "off", &UpsState::silent},
      {"garbage", "on", "off", &UpsState::garbage},
  };
  for (const Switch& s : kSwitches) {
    if (w[0] != s.name) continue;
    if (w.size() != 2 || (w[1] != s.on && w[1] != s.off)) {
      *error = std::string("usage: ") + s.name + " " + s.on + "|" + s.off;
      return true;
    }
    const UpsState before = state_;
    state_.*s.field = (w[1] == s.on);
    Log("STATE", w[0] + " " + w[1]);
    device_->OnStateChanged(*this, before);
    UpdateDeviceLines();
    return true;
  }
  return false;
}

void UpsSimulator::Execute(const std::string& line,
                           const std::function<void(const std::string&)>& reply) {
  const std::vector<std::string> w = Words(line);
  if (w.empty()) return;
  std::string error;
  long v = 0;
  const std::string& cmd = w[0];

  if (cmd == "help") {
    for (const char* h : kHelp) reply(h);
  } else if (cmd == "status") {
    reply("mode " + device_->Name());
    reply("device " + pty_.slave_path());
    reply(std::string("state mains=") + (state_.mains_ok ? "ok" : "fail") +
          " battery=" + (state_.battery_low ? "low" : "ok") +
          " overload=" + (state_.overload ? "on" : "off") +
          " replace-battery=" + (state_.replace_battery ? "on" : "off") +
          " boost=" + (state_.boost ? "on" : "off") +
          " cable=" + (state_.cable_connected ? "connected" : "pulled") +
          " silence=" + (state_.silent ? "on" : "off") + " garbage=" + (state_.garbage ? "on" : "off") +
          " delay=" + std::to_string(delay_ms_) + " split=" + std::to_string(split_ms_));
    reply("line " + LineText(Line()));
    reply("lines host=" + LinesText(host_lines_) + " device=" + LinesText(sideband_->DeviceLines()));
    const std::string d = device_->Describe();
    if (!d.empty()) reply(device_->Name() + " " + d);
  } else if (cmd == "quit") {
    quit_ = true;
  } else if (cmd == "mode") {
    std::unique_ptr<SimDevice> d = w.size() == 2 ? MakeSimDevice(w[1]) : nullptr;
    if (!d) {
      error = "usage: mode apc|contact|modem|pager|bcm|varnis";
    } else {
      SetDevice(std::move(d));
      Log("STATE", "mode " + w[1]);
    }
  } else if (cmd == "delay" || cmd == "split") {
    if (w.size() != 2 || !ParseNumber(w[1], 0, kMaxDelayMs, &v)) {
      error = "usage: " + cmd + " MS (0.." + std::to_string(kMaxDelayMs) + ")";
    } else {
      (cmd == "delay" ? delay_ms_ : split_ms_) = static_cast<int>(v);
      Log("STATE", cmd + " " + w[1]);
    }
  } else if (cmd == "send" || cmd == "send-text") {
    std::string bytes;
    if (w.size() < 2) {
      error = "usage: send HEX... | send-text TEXT";
    } else if (cmd == "send") {
      for (size_t i = 1; i < w.size() && error.empty(); ++i) {
        std::string b;
        if (w[i].size() != 2 || !Unescape("\\x" + w[i], &b)) error = "bad hex byte " + w[i];
        bytes += b;
      }
    } else {
      std::string text = line.substr(line.find("send-text") + 9);
      while (!text.empty() && (text[0] == ' ' || text[0] == '\t')) text.erase(0, 1);
      if (!Unescape(text, &bytes)) error = "bad escape";
    }
    if (error.empty()) {
      Log("STATE", "send " + HexBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
      if (state_.cable_connected) Emit(bytes);
    }
  } else if (cmd == "log" || cmd == "log-since") {
    size_t from = log_first_;
    if (cmd == "log-since") {
      if (w.size() != 2 || !ParseNumber(w[1], 0, 0x7FFFFFFF, &v)) {
        error = "usage: log-since N";
      } else if (static_cast<size_t>(v) > from) {
        from = static_cast<size_t>(v);
      }
    }
    if (error.empty()) {
      for (size_t i = from; i < log_first_ + log_.size(); ++i) reply(log_[i - log_first_]);
      reply("OK " + std::to_string(log_first_ + log_.size()));
      return;
    }
  } else if (cmd == "clear") {
    log_first_ += log_.size();
    log_.clear();
  } else if (cmd == "wait") {
    long ms = 0;
    if (w.size() != 3 || !ParseNumber(w[1], 0, 0x7FFFFFFF, &v) || !ParseNumber(w[2], 0, kMaxDelayMs, &ms)) {
      error = "usage: wait COUNT MS";
    } else if (log_first_ + log_.size() >= static_cast<size_t>(v)) {
      reply("OK " + std::to_string(log_first_ + log_.size()));
      return;
    } else {
      // The answer comes later; the caller's id is filled in by ReadClient.
      waiters_.push_back(Waiter{0, static_cast<size_t>(v), NowMs() + static_cast<uint64_t>(ms)});
      return;
    }
  } else if (ChangeState(w, &error)) {
    // done (or error set)
  } else if (device_->Control(*this, w, &error, nullptr)) {
    if (error.empty()) Log("STATE", line);
  } else {
    error = "unknown command " + cmd + " (try help)";
  }
  reply(error.empty() ? "OK" : "ERR " + error);
}

int UpsSimulator::Run() {
  while (!quit_) {
    std::vector<pollfd> fds;
    std::vector<int> ids;
    fds.push_back({pty_.master(), static_cast<short>(POLLIN | (output_.empty() ? 0 : POLLOUT)), 0});
    fds.push_back({wake_read_, POLLIN, 0});
    if (listen_fd_ >= 0) fds.push_back({listen_fd_, POLLIN, 0});
    const size_t first_client = fds.size();
    for (auto& [id, c] : clients_) {
      if (c.input_ended) continue;  // a closed client's input ended first
      fds.push_back({c.in_fd, POLLIN, 0});
      ids.push_back(id);
    }
    int timeout = 1000;
    uint64_t next = UINT64_MAX;
    if (!timers_.empty()) next = timers_.begin()->first;
    for (const Waiter& w : waiters_) next = std::min(next, w.deadline);
    if (next != UINT64_MAX) {
      const uint64_t now = NowMs();
      timeout = next <= now ? 0 : static_cast<int>(std::min<uint64_t>(next - now, 1000));
    }
    const int r = ::poll(fds.data(), fds.size(), timeout);
    if (r < 0 && errno != EINTR) return 1;
    if (r > 0) {
      if (fds[1].revents) HandleWake();
      if (fds[0].revents & POLLIN) ReadMaster();
      if (fds[0].revents & POLLOUT) FlushOutput();
      if (listen_fd_ >= 0 && (fds[2].revents & POLLIN)) AcceptClient();
      for (size_t i = first_client; i < fds.size(); ++i) {
        if (fds[i].revents) ReadClient(ids[i - first_client]);
      }
    }
    RunTimers();
    // Clients that are done (a late "wait" answer may have finished one) are let go; a done
    // client has no wait pending (CloseIfDone).
    for (auto it = clients_.begin(); it != clients_.end();) {
      if (it->second.closed && it->second.is_socket) {
        ::close(it->second.in_fd);
        it = clients_.erase(it);
      } else {
        ++it;
      }
    }
  }
  return 0;
}

}  // namespace upssim
