// OS services for the action engine's tests: every effect is recorded as one line, in order,
// instead of acting; waits go through the pause hook, which a test may give work to (the
// UPS-side worker taking the UPS command).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "agent/engine/os_services.h"
#include "core/scp/action_entry.h"
#include "core/scp/scp.h"

class RecordingServices : public KT_OSServices {
 public:
  explicit RecordingServices(KT_SCP& scp) : KT_OSServices(scp) {
    SetPauseHook([this](int ms) {
      Add("pause:" + std::to_string(ms));
      if (onPause) onPause(ms);
    });
  }

  int PopupMessage(const char* text, const char* caption, uint32_t flags) override {
    Add(std::string("popup:") + (text ? text : "<null>") + "|" + (caption ? caption : "") + "|" +
        std::to_string(flags));
    return 1;
  }
  int PlaySound(const char* file) override { return Add(std::string("sound:") + (file ? file : "<null>")); }
  int StartSound(const char* file) override { return Add(std::string("sound-started:") + (file ? file : "<null>")); }
  int Broadcast(const char* text) override { return Add(std::string("broadcast:") + (text ? text : "<null>")); }
  int SendMail(const char* text, const char* subject, const char* recipient) override {
    return Add(std::string("mail:") + recipient + "|" + subject + "|" + text);
  }
  int SendPage(const KT_ActionEntry& action) override {
    return Add("page:" + std::to_string(action.event) + "|" + action.GetMessage().value_or(""));
  }
  int RunProgram(const char* command) override { return Add(std::string("run:") + (command ? command : "<null>")); }
  int RunAndWait(const char* command) override {
    Add(std::string("runwait:") + (command ? command : "<null>"));
    return runAndWaitResult;
  }
  int RunSaver() override {
    Add("saver");
    return saverResult;
  }
  int LogEvent(int kind, int event) override { return Add("logevent:" + std::to_string(kind) + ":" + std::to_string(event)); }
  int StopAgent(int quick) override {
    Add("stop:" + std::to_string(quick));
    ClearRunFlag();
    return 1;
  }
  int ShutdownSystem() override {
    Add("shutdown");
    return shutdownResult;
  }
  int RebootSystem() override {
    Add("reboot");
    return shutdownResult;
  }

  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  // The calls that start with `prefix`.
  std::vector<std::string> Calls(const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& c : Calls()) {
      if (c.rfind(prefix, 0) == 0) out.push_back(c);
    }
    return out;
  }
  size_t Count(const std::string& prefix) { return Calls(prefix).size(); }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }

  std::function<void(int)> onPause;
  int runAndWaitResult = 1;
  int saverResult = 1;
  int shutdownResult = 1;

 private:
  int Add(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
    return 1;
  }

  std::mutex mutex_;
  std::vector<std::string> calls_;
};
