#include "agent/actions/system_effects.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "core/base/ktdiag.h"
#include "core/mail_paging/mapi_mail.h"
#include "platform/service_settings.h"

struct KT_SystemEffects::Shared {
  std::mutex mutex;  // guards the fields below
  std::condition_variable cv;
  KT_EffectSettings settings;
  KT_LogonFn logon;
  int running = 0;
  bool closing = false;
  // The mail program path: one sender at a time may read "tremmail.txt".
  std::mutex mailMutex;
  std::condition_variable mailCv;
  bool mailBusy = false;
};

namespace {

using Shared = KT_SystemEffects::Shared;

KT_EffectSettings SettingsFromService() {
  const platform::ServiceSettings& s = platform::GetServiceSettings();
  KT_EffectSettings e;
  e.shutdownCommand = s.shutdownCommand;
  e.rebootCommand = s.rebootCommand;
  e.soundPlayer = s.soundPlayer;
  e.saverCommand = s.saverCommand;
  e.commandUser = s.commandUser;
  return e;
}

KT_EffectSettings SettingsOf(Shared& shared) {
  std::lock_guard<std::mutex> lock(shared.mutex);
  return shared.settings;
}

// Runs `task` on a detached thread counted in shared.running; false when it cannot start.
bool Detach(const std::shared_ptr<Shared>& shared, std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    ++shared->running;
  }
  try {
    std::thread([shared, task = std::move(task)] {
      task();
      std::lock_guard<std::mutex> lock(shared->mutex);
      --shared->running;
      shared->cv.notify_all();
    }).detach();
    return true;
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(shared->mutex);
    --shared->running;
    shared->cv.notify_all();
    return false;
  }
}

std::optional<KT_LogonUser> DefaultLogon(const std::string& user, const std::string&, const std::string&) {
  // The agent starts the mail sender as itself: an account of another user cannot log on
  // (changing users is not done here), and the password is not checked against anything.
  passwd pw{};
  passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (::getpwnam_r(user.c_str(), &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr) return std::nullopt;
  if (pw.pw_uid != ::geteuid()) return std::nullopt;
  return KT_LogonUser{pw.pw_uid, pw.pw_gid};
}

std::string MailProgramPath(const KT_EffectSettings& settings) {
  if (!settings.mailProgram.empty()) return settings.mailProgram;
  const std::string beside = platform::ProgramDirectory() + "/Tremmail";
  if (::access(beside.c_str(), X_OK) == 0) return beside;
  return "Tremmail";
}

// Account text "user,domain,password": the three fields (each cut to its limit), or false
// when a comma is missing or a field is empty.
bool SplitAccount(const std::string& account, std::string* user, std::string* domain, std::string* password) {
  const size_t a = account.find(',');
  const size_t b = a == std::string::npos ? std::string::npos : account.find(',', a + 1);
  *user = account.substr(0, std::min(a, account.size())).substr(0, kMaxAccountField);
  *domain = a == std::string::npos ? "" : account.substr(a + 1, (b == std::string::npos ? account.size() : b) - a - 1);
  *domain = domain->substr(0, kMaxAccountField);
  *password = b == std::string::npos ? "" : account.substr(b + 1).substr(0, kMaxAccountField);
  return b != std::string::npos && !user->empty() && !domain->empty() && !password->empty();
}

// The steps of the mail program path, with the mail lock held and no sender running.
int MailProgramSteps(const std::shared_ptr<Shared>& shared, const std::string& text, const std::string& recipient,
                     const std::string& account) {
  // 1. The message file.
  std::FILE* f = std::fopen(kMailProgramFile, "w");
  if (f == nullptr) {
    Diag() << "Cannot write " << kMailProgramFile << "\n";
    return -1;
  }
  std::fprintf(f, "%s\n", text.c_str());
  std::fclose(f);
  // 2. The command line is the recipient alone. 3. The account.
  std::string user, domain, password;
  const bool complete = SplitAccount(account, &user, &domain, &password);
  Diag() << "User Name = " << user << "\n";
  Diag() << "Domain = " << domain << "\n";
  Diag() << "Before if - Create process like user\n";
  if (!complete) return 0;
  Diag() << "in if - Create process like user\n";
  // 4. Log on. 5. The program.
  KT_LogonFn logon;
  KT_EffectSettings settings;
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    logon = shared->logon;
    settings = shared->settings;
  }
  const std::optional<KT_LogonUser> who = logon ? logon(user, domain, password) : DefaultLogon(user, domain, password);
  Diag() << "bLogon state = " << (who ? 1 : 0) << "\n";
  const std::string program = MailProgramPath(settings);
  Diag() << "application_name = " << program << "\n";
  if (!who) return 0;
  Diag() << "in if - bLogon\n";
  if (who->uid != ::geteuid()) {
    Diag() << "The mail program would need another user; not started\n";
    return 0;
  }
  // 6. Start it; a watcher thread keeps the message file's lock until the sender has ended
  // (or its bound has passed).
  shared->mailBusy = true;
  const uint32_t waitMs = settings.mailProgramWaitMs;
  const bool started = Detach(shared, [shared, program, recipient, waitMs] {
    platform::ProcessOptions options;
    options.wait = true;
    options.waitMs = waitMs;
    const platform::ProcessResult r = platform::StartProgram(std::vector<std::string>{program, recipient}, options);
    Diag() << "csCommandLine = " << recipient << "\n";
    Diag() << "bCPAU state = " << (r.status == platform::ProcessStatus::kFailedToStart ? 0 : 1) << "\n";
    if (r.status == platform::ProcessStatus::kTimedOut) Diag() << "The mail program is still running\n";
    std::lock_guard<std::mutex> lock(shared->mailMutex);
    shared->mailBusy = false;
    shared->mailCv.notify_all();
  });
  if (!started) shared->mailBusy = false;
  return started ? 1 : 0;
}

}  // namespace

KT_SystemEffects::KT_SystemEffects() : shared_(std::make_shared<Shared>()) { shared_->settings = SettingsFromService(); }

KT_SystemEffects::~KT_SystemEffects() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->closing = true;
  }
  std::lock_guard<std::mutex> lock(shared_->mailMutex);
  shared_->mailCv.notify_all();
}

KT_EffectSettings KT_SystemEffects::Settings() const { return SettingsOf(*shared_); }

void KT_SystemEffects::SetSettings(const KT_EffectSettings& settings) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->settings = settings;
}

void KT_SystemEffects::UseServiceSettings() {
  const KT_EffectSettings fromService = SettingsFromService();
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->settings.shutdownCommand = fromService.shutdownCommand;
  shared_->settings.rebootCommand = fromService.rebootCommand;
  shared_->settings.soundPlayer = fromService.soundPlayer;
  shared_->settings.saverCommand = fromService.saverCommand;
  shared_->settings.commandUser = fromService.commandUser;
}

void KT_SystemEffects::SetLogon(KT_LogonFn logon) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->logon = std::move(logon);
}

platform::ProcessResult KT_SystemEffects::Start(const std::string& commandLine,
                                                platform::ProcessOptions options,
                                                KT_CommandSource source) const {
  if (source == KT_CommandSource::kConsole && ::geteuid() == 0) {
    const std::string user = Settings().commandUser;
    platform::ProcessAccount account;
    std::string why;
    if (!platform::LookUpAccount(user, account, why)) {
      Diag() << "The command is not run: " << why << " to run it as (command_user)\n";
      return platform::ProcessResult{platform::ProcessStatus::kFailedToStart, -1, -1, ENOENT,
                                     platform::StartStep::kUserId};
    }
    // An account with root's id is the administrator's choice: the command runs as the agent.
    if (account.uid != 0) {
      Diag() << "The command runs as " << account.name << " (uid " << static_cast<unsigned>(account.uid)
             << ")\n";
      options.account = std::move(account);
    }
  }
  const platform::ProcessResult r = platform::StartProgram(commandLine, options);
  if (r.status == platform::ProcessStatus::kFailedToStart && options.account &&
      r.failedStep != platform::StartStep::kProgram) {
    Diag() << "The command is not run: the account " << options.account->name << " (uid "
           << static_cast<unsigned>(options.account->uid) << ", gid "
           << static_cast<unsigned>(options.account->gid)
           << ") cannot be taken: " << platform::StartStepText(r.failedStep)
           << " failed: " << std::strerror(r.sysError) << "\n";
  }
  return r;
}

platform::ProcessResult KT_SystemEffects::Run(const std::string& commandLine, KT_CommandSource source) {
  return Start(commandLine, {}, source);
}

platform::ProcessResult KT_SystemEffects::RunBounded(const std::string& commandLine, uint32_t waitMs,
                                                     const char* what, KT_CommandSource source) {
  platform::ProcessOptions options;
  options.wait = true;
  options.waitMs = waitMs;
  const platform::ProcessResult r = Start(commandLine, options, source);
  if (r.status == platform::ProcessStatus::kTimedOut) {
    Diag() << what << " still running after " << static_cast<unsigned>(waitMs / 1000) << " s; going on without it\n";
  } else if (r.status == platform::ProcessStatus::kExited && r.exitCode != 0) {
    Diag() << what << " ended with " << r.exitCode << "\n";
  }
  return r;
}

platform::ProcessResult KT_SystemEffects::RunSaver() {
  const KT_EffectSettings s = Settings();
  return RunBounded(s.saverCommand, s.saverWaitMs, "The file saver", KT_CommandSource::kSettings);
}

std::optional<std::vector<std::string>> KT_SystemEffects::SoundCommand(const std::string& file) const {
  auto argv = platform::SplitCommandLine(Settings().soundPlayer);
  if (!argv || argv->empty()) return std::nullopt;
  // A file name that looks like an option is given as a path, so no player takes it for one.
  argv->push_back(!file.empty() && file[0] == '-' ? "./" + file : file);
  return argv;
}

bool KT_SystemEffects::PlaySound(const std::string& file, int* error, bool wait) {
  *error = 0;
  const KT_EffectSettings s = Settings();
  if (s.soundPlayer.empty()) {
    if (!platform::GetServiceSettings().userTerminals) {
      Diag() << "No sound player, and the terminals of logged-in users are not to be written to: no bell\n";
      return true;
    }
    platform::RingUserTerminals(s.terminals);
    return true;
  }
  const auto argv = SoundCommand(file);
  if (!argv) {
    *error = EINVAL;
    return false;
  }
  platform::ProcessOptions options;
  options.wait = wait;
  options.waitMs = s.soundWaitMs;
  const platform::ProcessResult r = platform::StartProgram(*argv, options);
  if (r.status == platform::ProcessStatus::kTimedOut) {
    Diag() << "The sound player still running after " << static_cast<unsigned>(s.soundWaitMs / 1000)
           << " s; going on without it\n";
  }
  if (r.status == platform::ProcessStatus::kFailedToStart) {
    *error = r.sysError;
    return false;
  }
  if (r.status == platform::ProcessStatus::kExited && r.exitCode != 0) {
    *error = r.exitCode;
    return false;
  }
  return true;
}

bool KT_SystemEffects::StartSound(const std::string& file, int* error) {
  *error = 0;
  const auto argv = SoundCommand(file);
  if (!argv) {
    *error = EINVAL;
    return false;
  }
  const platform::ProcessResult r = platform::StartProgram(*argv);
  if (r.status == platform::ProcessStatus::kFailedToStart) {
    *error = r.sysError;
    return false;
  }
  return true;
}

platform::ProcessResult KT_SystemEffects::Shutdown() {
  const KT_EffectSettings s = Settings();
  return RunBounded(s.shutdownCommand, s.shutdownWaitMs, "The shutdown command", KT_CommandSource::kSettings);
}

platform::ProcessResult KT_SystemEffects::Reboot() {
  const KT_EffectSettings s = Settings();
  return RunBounded(s.rebootCommand, s.shutdownWaitMs, "The reboot command", KT_CommandSource::kSettings);
}

bool KT_SystemEffects::Broadcast(const std::string& text) {
  if (!platform::GetServiceSettings().userTerminals) {
    // The settings say the agent writes to no user's terminal: the broadcast goes nowhere.
    Diag() << "Broadcast not sent: the terminals of logged-in users are not to be written to\n";
    return true;
  }
  platform::TerminalOptions options = Settings().terminals;
  if (options.skipHost.empty()) options.skipHost = platform::LocalHostName();
  return Detach(shared_, [text, options] {
    char when[64] = {};
    const time_t now = ::time(nullptr);
    tm local{};
    if (::localtime_r(&now, &local)) std::strftime(when, sizeof when, "%a %b %e %H:%M:%S %Y", &local);
    const std::string heading =
        "Broadcast message from Tremona Agent on " + platform::LocalHostName() + " (" + when + "):";
    const int n = platform::BroadcastToUsers(heading, text, options);
    Diag() << "Broadcast reached " << n << " terminal(s)\n";
  });
}

bool KT_SystemEffects::SendMail(const std::string& text, const std::string& subject, const std::string& recipient) {
  return Detach(shared_, [text, subject, recipient] {
    MapiMail mail;
    mail.AddRecipient(recipient.c_str(), recipient.c_str(), 0);
    const int sent = mail.Send(subject.c_str(), text.c_str());
    Diag() << "Mail to " << recipient << (sent == 1 ? " sent\n" : " not sent\n");
  });
}

int KT_SystemEffects::StartMailProgram(const std::string& text, const std::string& recipient,
                                       const std::string& account) {
  std::unique_lock<std::mutex> lock(shared_->mailMutex);
  if (!shared_->mailBusy) return MailProgramSteps(shared_, text, recipient, account);
  lock.unlock();
  // An earlier sender may still read the file: this mail waits for it on a thread of its own.
  const uint32_t waitMs = Settings().mailProgramWaitMs;
  auto shared = shared_;
  const bool queued = Detach(shared_, [shared, text, recipient, account, waitMs] {
    std::unique_lock<std::mutex> l(shared->mailMutex);
    const bool free = shared->mailCv.wait_for(l, std::chrono::milliseconds(waitMs), [&] {
      std::lock_guard<std::mutex> g(shared->mutex);
      return !shared->mailBusy || shared->closing;
    });
    bool closing;
    {
      std::lock_guard<std::mutex> g(shared->mutex);
      closing = shared->closing;
    }
    if (!free || closing || shared->mailBusy) {
      Diag() << "Mail to " << recipient << " not sent: the earlier mail program is still running\n";
      return;
    }
    MailProgramSteps(shared, text, recipient, account);
  });
  return queued ? 1 : 0;
}

bool KT_SystemEffects::WaitIdle(int timeoutMs) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  return shared_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return shared_->running == 0; });
}
