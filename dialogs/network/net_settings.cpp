#include "dialogs/network/net_settings.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "core/scp/scp_base.h"

namespace {
std::atomic<int> g_polling{kDefaultPollingIntervalSeconds};

// The decimal number at the start of a line (after blanks), or nothing.
bool LeadingNumber(const char* line, int& out) {
  char* end = nullptr;
  const long v = std::strtol(line, &end, 10);
  if (end == line || v < -1000000 || v > 1000000) return false;
  out = static_cast<int>(v);
  return true;
}
}  // namespace

int CommTimeoutSeconds() {
  return KT_SCPBase::CommTimeout();
}

void SetCommTimeoutSeconds(int seconds) {
  KT_SCPBase::SetCommTimeout(seconds);
}

int PollingIntervalSeconds() {
  return g_polling.load();
}

void SetPollingIntervalSeconds(int seconds) {
  if (seconds > 0) g_polling.store(seconds);
}

int ReadNetSettingsFile(const QString& path, NetSettingsFile& values) {
  std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "r");
  if (f == nullptr) return 0;
  char line[82];
  int v = 0;
  if (std::fgets(line, sizeof line, f) != nullptr && LeadingNumber(line, v) &&
      v >= kMinPollingIntervalSeconds && v <= kMaxPollingIntervalSeconds) {
    values.pollingInterval = v;
  }
  if (std::fgets(line, sizeof line, f) != nullptr && LeadingNumber(line, v) && v >= kMinCommTimeoutSeconds &&
      v <= kMaxCommTimeoutSeconds) {
    values.timeout = v;
  }
  std::fclose(f);
  return 1;
}

bool WriteNetSettingsFile(const QString& path, const NetSettingsFile& values) {
  std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "w");
  if (f == nullptr) return false;
  const bool written = std::fprintf(f, "%d\n%d\n", values.pollingInterval, values.timeout) > 0;
  return std::fclose(f) == 0 && written;
}

void LoadNetSettings() {
  NetSettingsFile values{PollingIntervalSeconds(), CommTimeoutSeconds()};
  if (ReadNetSettingsFile(QString::fromLatin1(kNetSettingsFileName), values) != 1) return;
  SetPollingIntervalSeconds(values.pollingInterval);
  SetCommTimeoutSeconds(values.timeout);
}
