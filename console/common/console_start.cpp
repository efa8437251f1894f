#include "console/common/console_start.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/adapters/mib_file.h"
#include "core/base/service_start.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "platform/named_object.h"

namespace console {

namespace {

constexpr int kGuiRunningNameId = 3624;  // "Tremona GUI is running"
constexpr size_t kGuiRunningSize = 32;
constexpr const char* kAgentMibFile = "/var/lib/vigil/mib.txt";

// mkdir -p, each level 0700 when it is made (the folders hold the user's console files).
bool MakeFolders(const std::string& path, std::string* error) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      if (error != nullptr) *error = "cannot create " + part + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

std::string WorkingDirectory() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr && home[0] == '/' ? home : "/tmp") + "/.local/share";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/Brenvale/Tavona";
}

bool EnterWorkingDirectory(std::string* error) {
  const std::string dir = WorkingDirectory();
  if (!MakeFolders(dir, error)) return false;
  if (::chdir(dir.c_str()) != 0) {
    if (error != nullptr) *error = "cannot enter " + dir + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string MibFilePath() {
  return ::access("mib.txt", R_OK) == 0 ? std::string("mib.txt") : std::string(kAgentMibFile);
}

void SetScpStartFlags() {
  if (ReadMibFile(MibFilePath().c_str())) gScp.SetFlag(SCP_FLAG_SNMP);
  if (StartServiceByName("snmp", 0) == SERVICE_RUNNING) gScp.SetFlag(SCP_FLAG_SNMP_SERVICE);
}

GuiRunningMapping::GuiRunningMapping() = default;

GuiRunningMapping::~GuiRunningMapping() {
  Release();
}

bool GuiRunningMapping::Take() {
  if (Held()) return true;
  auto mapping = std::make_unique<platform::NamedMapping>();
  if (!mapping->Create(LoadString(kGuiRunningNameId).toStdString(), kGuiRunningSize)) return false;
  if (mapping->AlreadyExisted()) return false;  // closes it: the other console keeps its own
  mapping_ = std::move(mapping);
  return true;
}

bool GuiRunningMapping::Held() const {
  return mapping_ != nullptr;
}

void GuiRunningMapping::Release() {
  mapping_.reset();
}

}  // namespace console
