#include "agent/engine/message_boxes.h"

#include <cstdio>

#include "platform/service_settings.h"
#include "platform/system_log.h"
#include "platform/user_terminals.h"

namespace {
constexpr uint32_t kIconMask = 0xF0;
constexpr uint32_t kIconError = 0x10;
}  // namespace

void KT_DaemonMessageBoxes::Show(const std::string& text, const std::string& caption, uint32_t flags) {
  if (console_mode_) {
    std::printf("%s: %s\n", platform::PrintableText(caption, false).c_str(), platform::PrintableText(text, true).c_str());
    std::fflush(stdout);
    return;
  }
  const bool error = (flags & kIconMask) == kIconError;
  platform::WriteSystemLog("VigilNT", error ? platform::LogEntryType::kError : platform::LogEntryType::kWarning,
                           {caption, text});
  if (platform::GetServiceSettings().userTerminals) platform::WriteToUserTerminals(caption, text);
}
