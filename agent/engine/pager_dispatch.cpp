#include "agent/engine/pager_dispatch.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "core/scp/command_block.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"

namespace {

// One page at a time in the whole process: every pager thread calls the page link under this
// lock. A namespace-scope mutex is ready before any code runs, so no thread can see it half
// made.
std::mutex g_pagingLock;

}  // namespace

struct KT_PagerDispatch::Batch {
  std::mutex mutex;
  int outstanding = 0;
  int failure = -1;  // the first failure status of the action's pages
};

namespace {

// One page for one recipient, and the page actions whose outcome it is: its own, and those of
// the older pages it replaced before they were sent.
struct PageJob {
  KT_PagerConfig recipient;
  KT_ActionEntry action;
  std::vector<std::shared_ptr<KT_PagerDispatch::Batch>> batches;
};

// A recipient's pager thread and the one page that waits for it.
struct RecipientSlot {
  bool threadRunning = false;
  std::optional<PageJob> waiting;
};

}  // namespace

struct KT_PagerDispatch::Shared {
  std::mutex mutex;  // guards what follows
  std::condition_variable cv;
  KT_SCP* scp = nullptr;
  SendFn send;
  KT_PagerDispatch::SleepFn sleep;
  StatusFn status;
  int running = 0;
  bool closing = false;
  std::map<std::string, RecipientSlot> recipients;  // by RecipientKey
};

namespace {

using Shared = KT_PagerDispatch::Shared;
using Batch = KT_PagerDispatch::Batch;

void WriteStatus(Shared& shared, uint8_t status) {
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (shared.status) {
    shared.status(status);
  } else if (shared.scp) {
    auto scpLock = shared.scp->Lock();
    shared.scp->commandBlock.SetValue(COMMAND_PAGER_TEST, status);
  }
}

// A pause that ends early when the dispatcher goes away.
void Pause(Shared& shared, int ms) {
  KT_PagerDispatch::SleepFn sleep;
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    sleep = shared.sleep;
  }
  if (sleep) {
    sleep(ms);
    return;
  }
  std::unique_lock<std::mutex> lock(shared.mutex);
  shared.cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return shared.closing; });
}

// One recipient's page is over with this status.
void Report(Shared& shared, Batch& batch, uint8_t status) {
  bool write = false;
  uint8_t value = status;
  {
    std::lock_guard<std::mutex> lock(batch.mutex);
    --batch.outstanding;
    if (status != 0) {
      if (batch.failure < 0) batch.failure = status;
      write = true;
    } else if (batch.outstanding <= 0 && batch.failure < 0) {
      write = true;
      value = 0;
    }
  }
  if (write) WriteStatus(shared, value);
}

// Recipients are told apart by what reaches them: name, number, PIN and port.
std::string RecipientKey(KT_PagerConfig recipient) {
  return recipient.GetName().value_or("") + '\n' + recipient.GetAccessNumber().value_or("") + '\n' +
         recipient.GetPin().value_or("") + '\n' + recipient.GetPortName().value_or("");
}

// One page with its tries; `paging` holds the paging lock for the first try.
void SendOnePage(Shared& shared, const PageJob& job, std::unique_lock<std::mutex>& paging) {
  const KT_PageCall call = KT_PagerDispatch::MakeCall(job.recipient, job.action);
  const int tries = job.action.retries + 1;
  uint8_t status = kPagerStatusTriesUsed;
  bool pauseAfter = false;
  for (int t = 0; t < tries; ++t) {
    if (t > 0) {
      Pause(shared, job.action.option * 1000);
      {
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (shared.closing) break;
      }
      paging.lock();
    }
    int result;
    std::string text;
    {
      KT_PagerDispatch::SendFn send;
      {
        std::lock_guard<std::mutex> lock(shared.mutex);
        send = shared.send;
      }
      if (send) {
        result = send(call, &text);
      } else {
        KT_PageLink link;
        result = link.Send(call, &text);
      }
    }
    paging.unlock();
    Diag() << "Pager result for " << job.recipient.GetName().value_or("") << ": " << result << " " << text << "\n";
    const int s = KT_PagerDispatch::StatusOfResult(result);
    if (s >= 0) {
      status = static_cast<uint8_t>(s);
      pauseAfter = (s == kPagerStatusSetupFault);
      break;
    }
  }
  for (const auto& batch : job.batches) Report(shared, *batch, status);
  if (pauseAfter) Pause(shared, 1000);
}

// A recipient's pager thread: sends the page that waits for the recipient, then the one that
// came meanwhile, and ends when none waits. A page is taken only once the paging lock is held,
// so every page not yet begun is the one waiting page of its recipient.
void PagerThread(std::shared_ptr<Shared> shared, std::string key) {
  for (;;) {
    std::unique_lock<std::mutex> paging(g_pagingLock);
    std::optional<PageJob> job;
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      RecipientSlot& slot = shared->recipients[key];
      if (!shared->closing && slot.waiting) {
        job = std::move(slot.waiting);
        slot.waiting.reset();
      } else {
        // Pages that wait when the dispatcher closes are not sent: they count as failed.
        std::optional<PageJob> dropped = std::move(slot.waiting);
        shared->recipients.erase(key);
        --shared->running;
        shared->cv.notify_all();
        if (dropped) {
          paging.unlock();
          for (const auto& batch : dropped->batches) {
            std::lock_guard<std::mutex> b(batch->mutex);
            --batch->outstanding;
          }
        }
        return;
      }
    }
    SendOnePage(*shared, *job, paging);
  }
}

// Hands a page to its recipient's thread, starting the thread when none runs. A page that was
// still waiting is replaced by this newer one, whose outcome becomes the older one's too.
bool Start(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Batch>& batch,
           const KT_PagerConfig& recipient, const KT_ActionEntry& action) {
  const std::string key = RecipientKey(recipient);
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    RecipientSlot& slot = shared->recipients[key];
    PageJob job{recipient, action, {batch}};
    if (slot.waiting) {
      Diag() << "Pager: a newer page for " << recipient.GetName().value_or("") << " replaces the one waiting\n";
      job.batches.insert(job.batches.begin(), slot.waiting->batches.begin(), slot.waiting->batches.end());
    }
    slot.waiting = std::move(job);
    if (slot.threadRunning) return true;
    slot.threadRunning = true;
    ++shared->running;
  }
  try {
    std::thread(PagerThread, shared, key).detach();
    return true;
  } catch (const std::system_error&) {
    std::vector<std::shared_ptr<Batch>> batches;
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      RecipientSlot& slot = shared->recipients[key];
      if (slot.waiting) batches = slot.waiting->batches;
      shared->recipients.erase(key);
      --shared->running;
      shared->cv.notify_all();
    }
    Diag() << "Pager: the pager thread cannot be started\n";
    for (const auto& b : batches) Report(*shared, *b, kPagerStatusSetupFault);
    return false;
  }
}

}  // namespace

KT_PagerDispatch::KT_PagerDispatch(KT_SCP& scp) : shared_(std::make_shared<Shared>()) { shared_->scp = &scp; }

KT_PagerDispatch::~KT_PagerDispatch() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->closing = true;
  shared_->scp = nullptr;
  shared_->status = nullptr;
  shared_->cv.notify_all();
}

KT_PageCall KT_PagerDispatch::MakeCall(const KT_PagerConfig& recipient, const KT_ActionEntry& action) {
  return MakePageCall(recipient, action.message.value_or(""));
}

int KT_PagerDispatch::StatusOfResult(int result) {
  if (result == PAGE_SENT) return 0;
  if ((result >= 4 && result <= 9) || (result >= 26 && result <= 29)) return kPagerStatusSetupFault;
  if (result >= 30 && result <= 36) return kPagerStatusRefused;
  return -1;
}

int KT_PagerDispatch::SendPage(const KT_ActionEntry& action) {
  if (action.alias == 0) {
    WriteStatus(*shared_, kPagerTestNoPageAction);
    return 0;
  }
  std::vector<KT_PagerConfig> found;
  bool missing = false;
  {
    KT_SCP* scp;
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      scp = shared_->scp;
    }
    if (scp == nullptr) return 0;
    auto scpLock = scp->Lock();
    for (int b = 0; b < 8; ++b) {
      if (!(action.alias & (1u << b))) continue;
      KT_PagerConfig recipient;
      if (scp->notify.PagerRecipients().GetAt(b, recipient) == 1) {
        found.push_back(recipient);
      } else {
        missing = true;
      }
    }
  }
  auto batch = std::make_shared<Batch>();
  batch->outstanding = static_cast<int>(found.size());
  if (missing) batch->failure = kPagerStatusNoRecipient;
  int started = 0;
  for (const KT_PagerConfig& recipient : found) {
    Diag().Printf("Sending a pager to %s\n", recipient.GetName().value_or("").c_str());
    if (Start(shared_, batch, recipient, action)) ++started;
  }
  if (missing) WriteStatus(*shared_, kPagerStatusNoRecipient);
  return started;
}

int KT_PagerDispatch::StartPagerThread(const KT_PagerConfig& recipient, const KT_ActionEntry& action) {
  auto batch = std::make_shared<Batch>();
  batch->outstanding = 1;
  return Start(shared_, batch, recipient, action) ? 1 : -1;
}

void KT_PagerDispatch::SetSender(SendFn send) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->send = std::move(send);
}

void KT_PagerDispatch::SetSleeper(SleepFn sleep) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->sleep = std::move(sleep);
}

void KT_PagerDispatch::SetStatusSink(StatusFn status) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->status = std::move(status);
}

bool KT_PagerDispatch::WaitIdle(int timeoutMs) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  return shared_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return shared_->running == 0; });
}
