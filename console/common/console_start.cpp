#include "console/common/console_start.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/adapters/mib_file.h"
#include "core/base/service_start.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "platform/named_object.h"
#include "platform/record_file.h"
#include "platform/service_settings.h"

namespace console {

namespace {

constexpr int kGuiRunningNameId = 3624;  // "Tremona GUI is running"
constexpr int kAlreadyRunningId = 3625;  // "Tremona is already running.\n"
constexpr size_t kGuiRunningSize = 32;

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

// Copies `from` to `name` in the current directory unless `name` exists. The text goes to a
// scratch file first, which is then linked under the name: the name appears whole or not at
// all, and a name that exists by then is kept (link never replaces). True when there is nothing
// to copy (`name` exists, or `from` does not).
bool CopyIfAbsent(const std::string& from, const std::string& name, std::string* error) {
  if (platform::RecordFile::Exists(name)) return true;
  std::vector<uint8_t> text;
  const platform::FileResult read = platform::RecordFile::Read(from, text);
  if (read.status == platform::FileStatus::kMissing) return true;
  if (!read) {
    *error = std::strerror(read.sysError);
    return false;
  }
  std::string scratch = "." + name + ".XXXXXX";
  const int out = ::mkostemp(scratch.data(), O_CLOEXEC);
  if (out < 0) {
    *error = std::strerror(errno);
    return false;
  }
  bool ok = true;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t w = ::write(out, text.data() + done, text.size() - done);
    if (w < 0 && errno == EINTR) continue;
    ok = w > 0;
    if (ok) done += static_cast<size_t>(w);
  }
  if (::close(out) != 0) ok = false;
  if (ok && ::link(scratch.c_str(), name.c_str()) != 0 && errno != EEXIST) ok = false;
  if (!ok) *error = std::strerror(errno != 0 ? errno : EIO);
  ::unlink(scratch.c_str());
  return ok;
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
  ProvideShippedFiles(ShippedDataFolder());
  return true;
}

std::string ShippedDataFolder() {
  return platform::ProgramDirectory() + "/../share/vigil";
}

std::vector<std::string> ShippedFileNames() {
  return {"modems.txt"};
}

bool ProvideShippedFiles(const std::string& folder) {
  bool all = true;
  for (const std::string& name : ShippedFileNames()) {
    std::string why;
    if (!CopyIfAbsent(folder + "/" + name, name, &why)) {
      std::fprintf(stderr, "%s: cannot copy %s/%s into %s: %s\n", program_invocation_short_name, folder.c_str(),
                   name.c_str(), WorkingDirectory().c_str(), why.c_str());
      all = false;
    }
  }
  return all;
}

std::string MibFilePath() {
  return ConsoleMibFile();
}

void SetScpStartFlags() {
  if (ReadMibFile(MibFilePath().c_str())) gScp.SetFlag(SCP_FLAG_SNMP);
  if (StartServiceByName("snmp", 0) == SERVICE_RUNNING) gScp.SetFlag(SCP_FLAG_SNMP_SERVICE);
}

GuiRunningMapping::GuiRunningMapping() = default;

GuiRunningMapping::~GuiRunningMapping() {
  Release();
}

namespace {

// "Pommet (process 1234)", "Pommet (process 1234) or Tavona (process 5678)"; "" when none.
std::string HolderList(const std::vector<std::pair<int, std::string>>& holders) {
  std::string text;
  for (size_t i = 0; i < holders.size(); ++i) {
    if (i > 0) text += i + 1 == holders.size() ? " or " : ", ";
    text += (holders[i].second.empty() ? std::string("a program") : holders[i].second) + " (process " +
            std::to_string(holders[i].first) + ")";
  }
  return text;
}

// Why the mapping of that name could not be made (Create failed with `error`).
std::string WhyNotMade(const std::string& name, int error) {
  const platform::ObjectAtName at = platform::InspectObjectAt(name);
  const std::string path = "/dev/shm" + platform::SharedObjectName(name);
  if (at.OfAnotherRelease()) {
    const std::string who = HolderList(at.holders);
    return "A console of another release of Tremona" + (who.empty() ? std::string() : ", " + who + ",") +
           " holds the local channel.\nClose it, then start this console again.";
  }
  if (at.otherKind != nullptr) {
    return "The local channel's console mark " + path + " cannot be made: " + at.otherKind + " is there.";
  }
  return "The local channel's console mark " + path + " cannot be made: " + std::strerror(error) + ".";
}

}  // namespace

bool GuiRunningMapping::Take() {
  if (Held()) return true;
  refusal_.clear();
  const std::string name = LoadString(kGuiRunningNameId).toStdString();
  auto mapping = std::make_unique<platform::NamedMapping>();
  if (!mapping->Create(name, kGuiRunningSize)) {
    refusal_ = WhyNotMade(name, mapping->SysError());
    return false;
  }
  if (mapping->AlreadyExisted()) return false;  // closes it: the other console keeps its own
  mapping_ = std::move(mapping);
  return true;
}

std::string AlreadyRunningText(const GuiRunningMapping& mapping) {
  return LoadString(kAlreadyRunningId).toStdString() + mapping.Refusal();
}

bool GuiRunningMapping::Held() const {
  return mapping_ != nullptr;
}

void GuiRunningMapping::Release() {
  mapping_.reset();
}

}  // namespace console
