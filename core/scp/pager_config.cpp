#include "core/scp/pager_config.h"

#include <cstring>

int KT_PagerConfig::Store(std::optional<std::string>& slot, const char* text, size_t min, size_t max,
                          int32_t function) {
  if (text == nullptr) {
    LogError(ERR_PORT_SETTINGS, function, 1, 0);
    return -1;
  }
  const size_t length = std::strlen(text);
  if (length < min || length > max) {
    LogError(ERR_PORT_SETTINGS, function, 2, static_cast<int32_t>(length));
    return -1;
  }
  slot = std::string(text, length);
  return 0;
}

int KT_PagerConfig::SetName(const char* text) { return Store(name_, text, 1, 20, FN_NAME); }
int KT_PagerConfig::SetAccessNumber(const char* text) { return Store(access_number_, text, 1, 40, FN_ACCESS_NUMBER); }
int KT_PagerConfig::SetPin(const char* text) { return Store(pin_, text, 1, 40, FN_PIN); }
int KT_PagerConfig::SetDialString(const char* text) { return Store(dial_string_, text, 0, 5, FN_DIAL_STRING); }
int KT_PagerConfig::SetInitString(const char* text) { return Store(init_string_, text, 0, 65, FN_INIT_STRING); }
int KT_PagerConfig::SetModemName(const char* text) { return Store(modem_name_, text, 0, 40, FN_MODEM_NAME); }
int KT_PagerConfig::SetMaxCharacters(const char* text) {
  return Store(max_characters_, text, 1, 5, FN_MAX_CHARACTERS);
}
int KT_PagerConfig::SetDelaySeconds(const char* text) { return Store(delay_seconds_, text, 0, 5, FN_DELAY_SECONDS); }
int KT_PagerConfig::SetTermination(const char* text) { return Store(termination_, text, 0, 5, FN_TERMINATION); }
