// saver [-d DIR] [-D DISPLAY] [-a XAUTHORITY]: replays the File Saver's macros before the
// system shuts down, so that the applications save their work.
//
// DIR (default: the working directory) holds the macros the File Saver dialog built (a
// console's working directory). For each macro whose application has a window on the display:
// the window is placed where it was recorded, the replay files are built, the macro is replayed
// and its end awaited. Macros without a window are skipped. Every step is logged (standard
// error and the system log).
//
// Started by root (as the agent starts it), the program first takes on the identity of DIR's
// owner, user and groups, before it opens the display or any file: what it writes in the
// user's folder it writes as that user, and it never writes through a link.
//
// SIGTERM and SIGINT end the run at once: a replay under way is stopped (what it holds
// pressed is released), the macros left are not replayed, and the status is 1.
//
// Exit status: 0 done (also when no application was running), 1 a replay failed, did not end
// in time or was stopped by a signal, 2 no usable display (none, or without the RECORD or
// XTEST extension) or a bad command line or DIR. Each replay is bounded, and the whole run
// ends well within the 3 minutes the agent waits for it.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filesaver/macro_files.h"
#include "filesaver/msg_src.h"
#include "filesaver/program_lookup.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitReplayFailed = 1;
constexpr int kExitCannotRun = 2;
// The whole run: well inside the agent's 3 minutes.
constexpr int64_t kRunBudgetMs = 150 * 1000;
// A replay's bound beyond its own recorded length (the typed path, a loaded machine).
constexpr int64_t kReplayMarginMs = 10 * 1000;
constexpr int kSettleMs = 2000;
// How long the run waits for the file a replay had saved.
constexpr int64_t kSaveWaitMs = 10 * 1000;
// How often a wait looks for a stop signal.
constexpr int kStopLookMs = 50;

// The stop signal that came (0: none).
volatile sig_atomic_t g_stop_signal = 0;

void OnStopSignal(int sig) {
  if (g_stop_signal == 0) g_stop_signal = sig;
}

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

bool Stopped() {
  return g_stop_signal != 0;
}

void Log(int priority, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "saver: %s\n", text);
  syslog(priority, "%s", text);
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Sleeps `ms`, less when a stop signal comes.
void SleepUnlessStopped(int64_t ms) {
  const int64_t deadline = NowMs() + ms;
  for (int64_t left = ms; left > 0 && !Stopped(); left = deadline - NowMs()) {
    ::usleep(static_cast<useconds_t>(std::min<int64_t>(left, kStopLookMs)) * 1000);
  }
}

void Usage() {
  std::fprintf(stderr, "usage: saver [-d DIR] [-D DISPLAY] [-a XAUTHORITY]\n");
}

// As root: becomes the owner of the open folder, with that user's groups (or, for an owner
// without an account, the folder's group alone). Nothing to do for anyone else.
bool BecomeOwnerOf(int folder) {
  if (::geteuid() != 0) return true;
  struct stat st;
  if (::fstat(folder, &st) != 0) return false;
  if (st.st_uid == 0) return true;  // root's own folder
  const passwd* pw = ::getpwuid(st.st_uid);
  const gid_t gid = pw ? pw->pw_gid : st.st_gid;
  if (pw ? ::initgroups(pw->pw_name, gid) != 0 : ::setgroups(0, nullptr) != 0) return false;
  if (::setgid(gid) != 0 || ::setuid(st.st_uid) != 0) return false;
  if (::getuid() != st.st_uid || ::geteuid() != st.st_uid || ::setuid(0) == 0) return false;  // no way back
  if (pw) {
    // The user's own X authority file, unless one is named.
    ::setenv("HOME", pw->pw_dir, 1);
    ::setenv("USER", pw->pw_name, 1);
    ::setenv("LOGNAME", pw->pw_name, 1);
  }
  return true;
}

// How long the replay of ZIRERURI.MAA takes as recorded (gaps capped as the replayer caps
// them), and whether it types the saved file's path (an F11 in the recording).
int64_t RecordedLengthMs(bool* types_path) {
  filesaver::RecordingHeader header;
  std::vector<filesaver::EventMsg> events;
  *types_path = false;
  if (!filesaver::ReadRecordingFile(filesaver::kRecordingFile, &header, &events)) return 0;
  for (const filesaver::EventMsg& e : events)
    if (e.message == filesaver::kKeyDown && e.param_h == filesaver::kMarkKeysym) *types_path = true;
  int64_t total = 0;
  for (size_t i = 1; i < events.size(); ++i)
    if (events[i].time > events[i - 1].time)
      total += std::min<uint32_t>(events[i].time - events[i - 1].time, filesaver::kMaxReplayGapMs);
  return total;
}

bool WaitForFile(const std::string& path, int64_t timeout_ms) {
  const int64_t deadline = NowMs() + std::max<int64_t>(timeout_ms, 0);
  for (;;) {
    struct stat st;
    if (!path.empty() && ::lstat(path.c_str(), &st) == 0) return true;
    if (NowMs() >= deadline || Stopped()) return false;
    ::usleep(kStopLookMs * 1000);
  }
}

// Waits for the replay to end by itself within `bound_ms`; a stop signal or the bound stops
// it (releasing what it holds pressed). True when it ended by itself.
bool AwaitReplay(int64_t bound_ms) {
  const int64_t deadline = NowMs() + std::max<int64_t>(bound_ms, 0);
  while (!filesaver::MsgSrc.WaitForPlayback(kStopLookMs)) {
    if (Stopped() || NowMs() >= deadline) {
      filesaver::MsgSrc.FreeHook(filesaver::kPlaybackHook);
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CatchStopSignals();
  std::string folder = ".";
  std::string display;
  std::string authority;
  int opt;
  while ((opt = ::getopt(argc, argv, "d:D:a:")) != -1) {
    switch (opt) {
      case 'd':
        folder = optarg;
        break;
      case 'D':
        display = optarg;
        break;
      case 'a':
        authority = optarg;
        break;
      default:
        Usage();
        return kExitCannotRun;
    }
  }
  if (optind != argc || folder.empty()) {
    Usage();
    return kExitCannotRun;
  }
  ::openlog("saver", LOG_PID, LOG_USER);
  const int64_t start = NowMs();

  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    Log(LOG_ERR, "cannot open the folder %s: %s", folder.c_str(), std::strerror(errno));
    return kExitCannotRun;
  }
  if (!BecomeOwnerOf(dir)) {
    Log(LOG_ERR, "cannot take on the identity of the owner of %s: %s", folder.c_str(), std::strerror(errno));
    return kExitCannotRun;
  }
  if (::fchdir(dir) != 0) {
    Log(LOG_ERR, "cannot enter the folder %s: %s", folder.c_str(), std::strerror(errno));
    return kExitCannotRun;
  }
  ::close(dir);
  if (!authority.empty()) ::setenv("XAUTHORITY", authority.c_str(), 1);
  if (display.empty() && std::getenv("DISPLAY") != nullptr) display = std::getenv("DISPLAY");

  filesaver::ProgramLookup lookup(display);
  const filesaver::DisplayState state = filesaver::MsgSrc.InitHook(0, nullptr, display);
  if (state != filesaver::DisplayState::kUsable || !lookup.usable()) {
    Log(LOG_ERR, "%s%s%s: nothing replayed", filesaver::DisplayStateText(state), display.empty() ? "" : " ",
        display.c_str());
    return kExitCannotRun;
  }
  filesaver::EnsureFilesFolder();

  int result = kExitDone;
  const std::vector<std::string> macros = filesaver::ListMacroFiles();
  if (macros.empty()) Log(LOG_INFO, "no macros in %s", folder.c_str());
  for (const std::string& macro : macros) {
    if (Stopped()) break;
    const std::string program = filesaver::ProgramNameFromMacro(macro);
    const filesaver::WindowId window = lookup.FindAppWindow(1, program);
    if (window == 0) {
      Log(LOG_INFO, "%s skipped: no window of %s", macro.c_str(), program.c_str());
      continue;
    }
    if (NowMs() - start + kSettleMs + kReplayMarginMs > kRunBudgetMs) {
      Log(LOG_WARNING, "%s skipped: no time left", macro.c_str());
      result = kExitReplayFailed;
      continue;
    }
    bool ok = false;
    const filesaver::WindowRect rect = filesaver::ReadMacroWindowRect(macro, &ok);
    if (!ok) {
      Log(LOG_WARNING, "%s failed: it holds no record", macro.c_str());
      result = kExitReplayFailed;
      continue;
    }
    // The application redraws and takes the focus before the events arrive.
    const bool placed = lookup.PlaceAppWindow(window, rect, 0);
    if (placed) SleepUnlessStopped(kSettleMs);
    if (Stopped()) break;
    if (!placed) {
      Log(LOG_WARNING, "%s failed: the window of %s is gone", macro.c_str(), program.c_str());
      result = kExitReplayFailed;
      continue;
    }
    if (lookup.BuildPlaybackFile(window) < 1) {
      Log(LOG_WARNING, "%s failed: cannot build %s and %s", macro.c_str(), filesaver::kRecordingFile,
          filesaver::kPrefixFile);
      result = kExitReplayFailed;
      continue;
    }
    const std::string target = filesaver::ReadPrefixFile();
    const int64_t left = kRunBudgetMs - (NowMs() - start);
    bool types_path = false;
    const int64_t bound = std::min(RecordedLengthMs(&types_path) + kReplayMarginMs, left);
    if (!filesaver::MsgSrc.SetHook(filesaver::kPlaybackHook)) {
      Log(LOG_WARNING, "%s failed: the replay does not start", macro.c_str());
      result = kExitReplayFailed;
      continue;
    }
    if (!AwaitReplay(bound)) {
      if (Stopped()) {
        Log(LOG_WARNING, "%s failed: the replay was stopped", macro.c_str());
        break;
      }
      Log(LOG_WARNING, "%s failed: the replay did not end within %lld s; stopped", macro.c_str(),
          static_cast<long long>(bound / 1000));
      result = kExitReplayFailed;
      continue;
    }
    if (!filesaver::MsgSrc.last_playback_complete()) {
      Log(LOG_WARNING, "%s failed: the replay was cut short", macro.c_str());
      result = kExitReplayFailed;
      continue;
    }
    // The application takes the replayed keys in its own time: where the macro names the file
    // to save, the run waits (within its bound) until that file is there, so the shutdown that
    // follows does not overtake the saving.
    if (types_path &&
        !WaitForFile(target, std::min<int64_t>(kSaveWaitMs, kRunBudgetMs - (NowMs() - start)))) {
      if (Stopped()) break;
      Log(LOG_WARNING, "%s replayed into %s, but %s did not appear", macro.c_str(), program.c_str(),
          target.c_str());
      result = kExitReplayFailed;
      continue;
    }
    Log(LOG_INFO, "%s replayed into %s%s%s", macro.c_str(), program.c_str(), types_path ? ", saved to " : "",
        types_path ? target.c_str() : "");
  }
  if (Stopped()) {
    Log(LOG_WARNING, "stopped by signal %d: the macros left are not replayed",
        static_cast<int>(g_stop_signal));
    return kExitReplayFailed;
  }
  return result;
}
