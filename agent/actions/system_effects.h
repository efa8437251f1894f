// KT_SystemEffects: what the daemon's services do to the machine, each through a configured
// program or endpoint, so that tests and the demo point them at harmless stand-ins.
//
//   programs      command texts split into arguments and started without a shell
//   waits         always bounded: the pre-shutdown command and the saver at most 3 minutes
//                 each, the sound player 5 s (then the agent goes on; the program keeps
//                 running and is traced)
//   saver         the file saver program, "saver" on the search path unless configured
//   sound         the configured player with the sound file as its last argument; without a
//                 player, the bell on the logged-in users' terminals
//   broadcast     the text on every logged-in user's terminal (platform/user_broadcast.h),
//                 leaving out sessions opened from this machine itself
//   (the bell and the broadcast write nothing when the service settings say user_terminals = no)
//   mail          MapiMail (SMTP) on a short-lived thread, one mail each
//   mail program  "tremmail.txt" and the mail sender program started with the recipient
//   shutdown      the configured command (default "shutdown -h now"); a reboot the reboot
//                 command (default "shutdown -r now")
//   users         a command that came from a console (the pre-shutdown command, the command
//                 action) runs, when the agent is root, as the settings' command_user (default
//                 "nobody"): consoles set the configuration without a password. An account that
//                 cannot be taken (no such user, ids the user namespace does not map) starts
//                 nothing, and the trace says why. The settings' own programs run as the agent.
//
// Mail: the agent's mail action sends through MapiMail directly. The mail sender program path
// (StartMailProgram) exists for what it was made for on other systems: starting the sender as
// the logged-on user of an account text. On Linux that needs no password and no second
// program: the agent's own mail settings already hold the server and its credentials, and a
// mail is one SMTP transfer. So the mail action does not write a file that another process must
// read in time, does not keep account passwords in the notification block's texts in use, and
// reports its outcome in the trace.
//
// "tremmail.txt" is never rewritten while a mail sender started for an earlier mail may still
// be reading it: a new mail program start waits (on its own thread, bounded) until the earlier
// sender has ended; one still running after the bound leaves the new mail unsent and traced.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/user_broadcast.h"

struct KT_EffectSettings {
  static constexpr uint32_t kThreeMinutesMs = 180000;

  std::string shutdownCommand = "shutdown -h now";
  std::string rebootCommand = "shutdown -r now";
  std::string soundPlayer;             // "" rings the terminal bell
  std::string saverCommand = "saver";
  std::string mailProgram;             // "" means "Tremmail" beside the agent, else on the path
  std::string commandUser = "nobody";  // runs the consoles' commands when the agent is root
  platform::TerminalOptions terminals; // login records and device directory of the broadcast
  uint32_t runWaitMs = kThreeMinutesMs;     // RunAndWait (the pre-shutdown command)
  uint32_t saverWaitMs = kThreeMinutesMs;   // the file saver
  uint32_t soundWaitMs = 5000;              // the sound player: a warning sound's length
  uint32_t shutdownWaitMs = 60000;          // the shutdown and the reboot command
  uint32_t mailProgramWaitMs = 120000;      // a mail sender still reading "tremmail.txt"
};

// Who an account text logs on as: the user's ids, or nothing when the logon fails.
struct KT_LogonUser {
  uid_t uid = 0;
  gid_t gid = 0;
};
using KT_LogonFn =
    std::function<std::optional<KT_LogonUser>(const std::string& user, const std::string& domain, const std::string& password)>;

// The mail sender's message file in the agent's directory.
inline constexpr const char* kMailProgramFile = "tremmail.txt";
// Longest user name, domain and password of an account text.
inline constexpr size_t kMaxAccountField = 59;

// Where a command text came from: the settings file (run as the agent) or a console's
// configuration (run as the command user when the agent is root).
enum class KT_CommandSource { kSettings, kConsole };

class KT_SystemEffects {
 public:
  KT_SystemEffects();
  ~KT_SystemEffects();
  KT_SystemEffects(const KT_SystemEffects&) = delete;
  KT_SystemEffects& operator=(const KT_SystemEffects&) = delete;

  // The settings in use: the agent's service settings at construction; tests replace them.
  KT_EffectSettings Settings() const;
  void SetSettings(const KT_EffectSettings& settings);
  // Takes the programs (shutdown, reboot, sound player, saver) from the process's service settings
  // again: the program calls it once it has loaded its settings file.
  void UseServiceSettings();
  // Replaces the logon of account texts (tests); empty restores the default: the account's
  // user must be the user the agent runs as (the agent does not change users).
  void SetLogon(KT_LogonFn logon);

  // Starts a program without waiting.
  platform::ProcessResult Run(const std::string& commandLine, KT_CommandSource source);
  // Starts a program and waits at most waitMs; a program still running then is traced (under
  // `what`) and left running.
  platform::ProcessResult RunBounded(const std::string& commandLine, uint32_t waitMs, const char* what,
                                     KT_CommandSource source);
  // The file saver, waited for within its bound.
  platform::ProcessResult RunSaver();
  // Plays a sound file (see the head of this file), waiting for the player within its bound
  // unless `wait` is false. True when it played or was started (or the bell rang).
  bool PlaySound(const std::string& file, int* error, bool wait = true);
  // Starts the configured sound player with the file and does not wait for it (the desktop
  // agent). False, with the error, when there is no usable player or it cannot start.
  bool StartSound(const std::string& file, int* error);
  // Runs the shutdown command within its bound.
  platform::ProcessResult Shutdown();
  // Runs the reboot command within the same bound.
  platform::ProcessResult Reboot();

  // A message to the logged-in users on a thread of its own; returns at once. False when the
  // thread cannot be started.
  bool Broadcast(const std::string& text);
  // One mail through MapiMail on a thread of its own. False when the thread cannot start.
  bool SendMail(const std::string& text, const std::string& subject, const std::string& recipient);
  // The mail sender program path. 1 when the program was started (or will be once an earlier
  // sender has ended), 0 when it stops before starting (see the steps in the source), -1 when
  // "tremmail.txt" cannot be written.
  int StartMailProgram(const std::string& text, const std::string& recipient, const std::string& account);

  // Waits up to timeoutMs for every thread this object started (broadcasts, mails, mail
  // programs); true when none runs.
  bool WaitIdle(int timeoutMs);

  struct Shared;

 private:
  // Starts a command of `source` with `options`, under the account that source runs as.
  platform::ProcessResult Start(const std::string& commandLine, platform::ProcessOptions options,
                                KT_CommandSource source) const;
  // The player's arguments with the file last; nothing when the player text is unusable.
  std::optional<std::vector<std::string>> SoundCommand(const std::string& file) const;

  std::shared_ptr<Shared> shared_;
};
