#include "dialogs/frame/host_control.h"

std::mutex KT_HostControl::m_MutexModifying;
std::condition_variable KT_HostControl::m_EventNoReaders;
int KT_HostControl::m_bWriters = 0;
long KT_HostControl::m_lReaderCount = 0;
int KT_HostControl::m_nWritersWaiting = 0;

KT_HostControl::KT_HostControl(int writer) : writer_(writer != 0 ? 1 : 0) {
  std::unique_lock<std::mutex> lock(m_MutexModifying);
  if (writer_ != 0) {
    ++m_nWritersWaiting;
    m_EventNoReaders.wait(lock, [] { return m_bWriters == 0 && m_lReaderCount == 0; });
    --m_nWritersWaiting;
    m_bWriters = 1;
  } else {
    // A waiting writer goes first, so readers cannot starve it.
    m_EventNoReaders.wait(lock, [] { return m_bWriters == 0 && m_nWritersWaiting == 0; });
    ++m_lReaderCount;
  }
}

KT_HostControl::~KT_HostControl() {
  Release();
}

void KT_HostControl::Release() {
  if (released_ != 0) return;
  released_ = 1;
  bool wake;
  {
    // The count changes under the mutex, so a writer can never see a reader leave before it
    // has really left, nor enter beside one that is just arriving.
    std::lock_guard<std::mutex> lock(m_MutexModifying);
    if (writer_ != 0) {
      m_bWriters = 0;
      wake = true;
    } else {
      --m_lReaderCount;
      wake = m_lReaderCount == 0;
    }
  }
  if (wake) m_EventNoReaders.notify_all();
}

long KT_HostControl::ReaderCount() {
  std::lock_guard<std::mutex> lock(m_MutexModifying);
  return m_lReaderCount;
}

bool KT_HostControl::WriterActive() {
  std::lock_guard<std::mutex> lock(m_MutexModifying);
  return m_bWriters != 0;
}

int KT_HostControl::WritersWaiting() {
  std::lock_guard<std::mutex> lock(m_MutexModifying);
  return m_nWritersWaiting;
}
