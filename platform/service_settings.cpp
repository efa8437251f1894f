#include "platform/service_settings.h"

#include <arpa/inet.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "platform/process.h"
#include "platform/record_file.h"
#include "platform/settings_text.h"

namespace platform {

namespace {

// An absolute path without "." or ".." steps.
bool IsCleanAbsolutePath(std::string_view s) {
  if (s.empty() || s.front() != '/' || s.size() >= PATH_MAX) return false;
  size_t pos = 0;
  while (pos < s.size()) {
    size_t next = s.find('/', pos + 1);
    std::string_view step = s.substr(pos + 1, (next == std::string_view::npos ? s.size() : next) - pos - 1);
    if (step == "." || step == "..") return false;
    if (next == std::string_view::npos) break;
    pos = next;
  }
  return true;
}

// A command text that splits into at least one argument.
bool IsValidCommand(std::string_view s) {
  auto args = SplitCommandLine(s);
  return args && !args->empty() && !args->front().empty();
}

bool IsValidUnitStem(std::string_view s) {
  if (s.size() > 200 || (!s.empty() && s.front() == '-')) return false;
  for (char c : s) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
              c == '_' || c == '.' || c == '@' || c == ':';
    if (!ok) return false;
  }
  return true;
}

// A user name as the user database holds it: letters, digits, '.', '_' and '-', not starting
// with '-'.
bool IsValidUserName(std::string_view s) {
  if (s.empty() || s.size() > 32 || s.front() == '-') return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

std::mutex g_settings_mutex;
ServiceSettings& Installed() {
  static ServiceSettings settings;
  return settings;
}

}  // namespace

bool ParseServiceSettings(std::string_view text, ServiceSettings& out, std::string& error) {
  text = WithoutByteOrderMark(text);
  ServiceSettings s;
  std::set<std::string> seen;
  int lineNo = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimBlanks(line);
    if (line.empty() || line.front() == '#' || line.front() == ';') {
      if (end == text.size()) break;
      continue;
    }
    auto fail = [&](const std::string& why) {
      error = "line " + std::to_string(lineNo) + ": " + why;
      return false;
    };
    if (HasControlCharacter(line)) return fail("control character");
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected key = value");
    const std::string key = LowerAscii(TrimBlanks(line.substr(0, eq)));
    const std::string_view value = TrimBlanks(line.substr(eq + 1));
    if (!seen.insert(key).second) return fail("\"" + key + "\" given twice");
    if (key == "data_directory") {
      if (!IsCleanAbsolutePath(value)) return fail("data_directory must be an absolute path");
      s.dataDirectory = std::string(value);
    } else if (key == "trace_file") {
      if (!value.empty() && !IsCleanAbsolutePath(value)) return fail("trace_file must be an absolute path");
      s.traceFile = std::string(value);
    } else if (key == "shutdown_command" || key == "reboot_command" || key == "saver_command") {
      if (!IsValidCommand(value)) return fail(key + " is not a command");
      (key == "shutdown_command" ? s.shutdownCommand : key == "reboot_command" ? s.rebootCommand : s.saverCommand) =
          std::string(value);
    } else if (key == "sound_player") {
      if (!value.empty() && !IsValidCommand(value)) return fail("sound_player is not a command");
      s.soundPlayer = std::string(value);
    } else if (key == "snmp_service") {
      if (!IsValidUnitStem(value)) return fail("snmp_service is not a service name");
      s.snmpService = std::string(value);
    } else if (key == "bind_address") {
      in_addr a{};
      if (!value.empty() && inet_pton(AF_INET, std::string(value).c_str(), &a) != 1) {
        return fail("bind_address must be an IPv4 address");
      }
      s.bindAddress = std::string(value);
    } else if (key == "agentx_socket") {
      const bool clean = value.size() <= 255 && std::all_of(value.begin(), value.end(), [](char c) {
                           return static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x7F;
                         });
      if (!clean) return fail("agentx_socket must be an AgentX address such as unix:/var/agentx/master");
      s.agentxSocket = std::string(value);
    } else if (key == "user_terminals") {
      if (!ParseYesNo(value, s.userTerminals)) return fail("user_terminals must be yes or no");
    } else if (key == "command_user") {
      if (!IsValidUserName(value)) return fail("command_user must be a user name");
      s.commandUser = std::string(value);
    } else {
      return fail("unknown key \"" + key + "\"");
    }
    if (end == text.size()) break;
  }
  out = s;
  return true;
}

std::string ServiceSettingsPath() {
  const char* env = std::getenv(kServiceSettingsEnv);
  if (env && *env) return env;
  return kServiceSettingsDefaultPath;
}

bool LoadServiceSettings(ServiceSettings& out, std::string& error) {
  const char* env = std::getenv(kServiceSettingsEnv);
  const bool named = env && *env;
  const std::string path = ServiceSettingsPath();
  std::vector<uint8_t> bytes;
  FileResult r = RecordFile::Read(path, bytes, RecordFile::Open::kExisting, kServiceSettingsMaxBytes);
  if (r.status == FileStatus::kMissing && !named) {
    out = ServiceSettings{};
    return true;
  }
  if (!r) {
    error = path + ": " + FileStatusText(r.status);
    return false;
  }
  std::string why;
  if (!ParseServiceSettings(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), out, why)) {
    error = path + ": " + why;
    return false;
  }
  return true;
}

std::string ProgramDirectory() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string ResolveDataDirectory(const ServiceSettings& settings) {
  const char* env = std::getenv(kDataDirectoryEnv);
  if (env && *env) return env;
  if (!settings.dataDirectory.empty()) return settings.dataDirectory;
  return ProgramDirectory();
}

const ServiceSettings& GetServiceSettings() {
  std::lock_guard<std::mutex> lock(g_settings_mutex);
  return Installed();
}

void SetServiceSettings(const ServiceSettings& settings) {
  std::lock_guard<std::mutex> lock(g_settings_mutex);
  Installed() = settings;
}

}  // namespace platform
