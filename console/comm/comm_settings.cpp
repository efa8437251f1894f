#include "console/comm/comm_settings.h"

#include <atomic>

namespace {
std::atomic<int> g_timeout{kDefaultCommTimeoutSeconds};
std::atomic<int> g_polling{kDefaultPollingIntervalSeconds};
}  // namespace

int CommTimeoutSeconds() {
  return g_timeout.load();
}

void SetCommTimeoutSeconds(int seconds) {
  if (seconds > 0) g_timeout.store(seconds);
}

int PollingIntervalSeconds() {
  return g_polling.load();
}

void SetPollingIntervalSeconds(int seconds) {
  if (seconds > 0) g_polling.store(seconds);
}
