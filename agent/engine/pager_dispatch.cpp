#include "agent/engine/pager_dispatch.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
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

struct KT_PagerDispatch::Shared {
  std::mutex mutex;  // guards what follows
  std::condition_variable cv;
  KT_SCP* scp = nullptr;
  SendFn send;
  KT_PagerDispatch::SleepFn sleep;
  StatusFn status;
  int running = 0;
  bool closing = false;
};

struct KT_PagerDispatch::Batch {
  std::mutex mutex;
  int outstanding = 0;
  int failure = -1;  // the first failure status of the action's pages
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

void PagerThread(std::shared_ptr<Shared> shared, std::shared_ptr<Batch> batch, KT_PagerConfig recipient,
                 KT_ActionEntry action) {
  const KT_PageCall call = KT_PagerDispatch::MakeCall(recipient, action);
  const int tries = action.retries + 1;
  uint8_t status = kPagerStatusTriesUsed;
  bool pauseAfter = false;
  for (int t = 0; t < tries; ++t) {
    if (t > 0) {
      Pause(*shared, action.option * 1000);
      std::lock_guard<std::mutex> lock(shared->mutex);
      if (shared->closing) break;
    }
    int result;
    std::string text;
    {
      std::lock_guard<std::mutex> paging(g_pagingLock);
      KT_PagerDispatch::SendFn send;
      {
        std::lock_guard<std::mutex> lock(shared->mutex);
        send = shared->send;
      }
      if (send) {
        result = send(call, &text);
      } else {
        KT_PageLink link;
        result = link.Send(call, &text);
      }
    }
    Diag() << "Pager result for " << recipient.GetName().value_or("") << ": " << result << " " << text << "\n";
    const int s = KT_PagerDispatch::StatusOfResult(result);
    if (s >= 0) {
      status = static_cast<uint8_t>(s);
      pauseAfter = (s == kPagerStatusSetupFault);
      break;
    }
  }
  Report(*shared, *batch, status);
  if (pauseAfter) Pause(*shared, 1000);
  std::lock_guard<std::mutex> lock(shared->mutex);
  --shared->running;
  shared->cv.notify_all();
}

bool Start(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Batch>& batch,
           const KT_PagerConfig& recipient, const KT_ActionEntry& action) {
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    ++shared->running;
  }
  try {
    std::thread(PagerThread, shared, batch, recipient, action).detach();
    return true;
  } catch (const std::system_error&) {
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      --shared->running;
    }
    Diag() << "Pager: the pager thread cannot be started\n";
    Report(*shared, *batch, kPagerStatusSetupFault);
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
