#include "core/scp/port_list.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace {

std::mutex g_sources_mutex;
std::string g_sys_class_tty = KT_PortList::kSysClassTty;
std::string g_device_dir = KT_PortList::kDeviceDir;

// Natural order: the same stem sorts by the number that follows it.
bool NaturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    size_t i = s.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1]))) --i;
    const std::string digits = s.substr(i);
    const unsigned long n = digits.empty() || digits.size() > 9 ? 0 : std::stoul(digits);
    return std::make_pair(s.substr(0, i), n);
  };
  const auto ka = split(a);
  const auto kb = split(b);
  if (ka != kb) return ka < kb;
  return a < b;
}

// A device entry of the tty class that is a real serial port.
bool IsSerialPort(const std::filesystem::path& entry) {
  std::error_code ec;
  if (!std::filesystem::exists(entry / "device", ec)) return false;
  // Built-in UART slots are listed whether or not a UART answers; type 0 means none.
  std::ifstream type(entry / "type");
  int value = -1;
  if (type && (type >> value) && value == 0) return false;
  return true;
}

}  // namespace

void KT_PortList::SetSources(const std::string& sysClassTty, const std::string& deviceDir) {
  std::lock_guard<std::mutex> lock(g_sources_mutex);
  g_sys_class_tty = sysClassTty.empty() ? kSysClassTty : sysClassTty;
  g_device_dir = deviceDir.empty() ? kDeviceDir : deviceDir;
}

int KT_PortList::Enumerate() {
  std::string root;
  std::string devices;
  {
    std::lock_guard<std::mutex> lock(g_sources_mutex);
    root = g_sys_class_tty;
    devices = g_device_dir;
  }
  Clear();
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (IsSerialPort(it->path())) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  for (const std::string& n : names) Add(devices + "/" + n);
  return Count();
}

int KT_PortList::Add(const std::string& name) {
  if (std::find(ports_.begin(), ports_.end(), name) != ports_.end()) return 0;
  ports_.push_back(name);
  return 1;
}

void KT_PortList::Clear() {
  ports_.clear();
  cursor_ = 0;
}

int KT_PortList::GetNext(std::string& name) {
  if (cursor_ >= ports_.size()) {
    cursor_ = 0;
    return -1;
  }
  name = ports_[cursor_++];
  return 1;
}

int KT_PortList::GetAt(int i, std::string& name) const {
  if (i < 0 || static_cast<size_t>(i) >= ports_.size()) return -1;
  name = ports_[static_cast<size_t>(i)];
  return 1;
}
