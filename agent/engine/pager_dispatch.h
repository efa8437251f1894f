// KT_PagerDispatch: the agent's page action. It picks the pager recipients an action names and
// hands each recipient's page to that recipient's pager thread, which sends it with tries and
// pauses, one page at a time across the process, and reports the outcome in the pager-test
// status byte of the command block (branch 7), which the consoles read.
//
// One pager thread per recipient at most, and at most one page waiting for it: a page that
// comes while an older one still waits replaces it (the newer text is what the recipient should
// read; the older action's status is the newer page's outcome). Pages that come faster than a
// page takes (a silent modem) so never pile up threads or pages.
//
// Alias bits: bit b (0..7) of the action's alias names pager recipient b of the notification
// block (list position). Alias 0 writes status 247 (no page action); a bit without a recipient
// writes 246 after the others' threads are started.
//
// One pager thread: tries = the action's retries + 1, a pause of the action's option byte in
// seconds between tries. The page link's result decides:
//   0            status 0, done
//   4..9, 26..29 status 251 (this computer's setup), a 1 s pause, done
//   30..36       status 252 (the paging company refused), done
//   anything else  another try; when none is left, status 248
// The calls of all threads go through one lock (the modem and the port are one), so
// concurrent pages wait for each other.
//
// Status of a page action with several recipients: the byte says 255 while pages are under
// way (the caller writes it), and once every recipient's thread has ended it holds the first
// failure, or 0 when every page went out; a failure is written at once, a success never
// overwrites a failure of the same action.
//
// Threads are detached; they share their state with the dispatcher through a reference-counted
// block, so a dispatcher that goes away first leaves nothing dangling (its threads then stop
// writing status and end their pauses early).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/mail_paging/page_call.h"
#include "core/mail_paging/page_link.h"
#include "core/scp/action_entry.h"
#include "core/scp/pager_config.h"

class KT_SCP;

// Pager-test status values besides 0, 247 (no page action) and 255 (under way).
inline constexpr uint8_t kPagerStatusNoRecipient = 246;
inline constexpr uint8_t kPagerStatusTriesUsed = 248;
inline constexpr uint8_t kPagerStatusSetupFault = 251;
inline constexpr uint8_t kPagerStatusRefused = 252;

class KT_PagerDispatch {
 public:
  using SendFn = std::function<int(const KT_PageCall& call, std::string* resultText)>;
  using SleepFn = std::function<void(int ms)>;
  using StatusFn = std::function<void(uint8_t status)>;

  // Status goes to the command block of `scp`; recipients come from its notification block.
  explicit KT_PagerDispatch(KT_SCP& scp);
  ~KT_PagerDispatch();
  KT_PagerDispatch(const KT_PagerDispatch&) = delete;
  KT_PagerDispatch& operator=(const KT_PagerDispatch&) = delete;

  // The page action: a page for each recipient the alias names. Returns the number of pages
  // handed to pager threads.
  int SendPage(const KT_ActionEntry& action);
  // A page for one recipient. 1 handed to its pager thread, -1 when the thread cannot be
  // started.
  int StartPagerThread(const KT_PagerConfig& recipient, const KT_ActionEntry& action);

  // The page call a recipient and an action make (MakePageCall with the action's text).
  static KT_PageCall MakeCall(const KT_PagerConfig& recipient, const KT_ActionEntry& action);
  // The status a result gives (0, 251, 252), or -1 for "try again".
  static int StatusOfResult(int result);

  // Replaces the page link (tests), the pause (tests) or where the status goes (tests); an
  // empty function restores the default.
  void SetSender(SendFn send);
  void SetSleeper(SleepFn sleep);
  void SetStatusSink(StatusFn status);

  // Waits up to timeoutMs for every pager thread to end; true when none runs.
  bool WaitIdle(int timeoutMs);

  struct Shared;
  struct Batch;

 private:
  std::shared_ptr<Shared> shared_;
};
