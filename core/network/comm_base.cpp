#include "core/network/comm_base.h"

#include <mutex>

KT_CommBase::~KT_CommBase() {
  // A derived channel has already released its endpoint in its own destructor; the base can
  // only drop the flag.
  open_ = 0;
}

void KT_CommBase::NoteError(int32_t function, int32_t code, int32_t sysError) {
  errorClass = ERR_COMM_BASE;
  this->function = function;
  this->code = code;
  systemError = sysError;
}

int KT_CommBase::OpenChannel(int portOrRole) {
  // The system error of a failed Open (a bind refused, say) stays in the record: it is the
  // reason the caller reports.
  systemError = 0;
  if (Open(portOrRole) < 0) {
    NoteError(COMM_FN_OPEN, 2, systemError);
    return -1;
  }
  open_ = 1;
  return 0;
}

int KT_CommBase::CloseChannel() {
  if (open_) {
    Close();
    open_ = 0;
  }
  return 0;
}

int KT_CommBase::CheckData(const uint8_t* data, size_t length) {
  if (length == 0) {
    NoteError(COMM_FN_CHECK, 1);
    return 0;
  }
  if (data == nullptr) {
    NoteError(COMM_FN_CHECK, 2);
    return 0;
  }
  return 1;
}

int KT_CommBase::Send(KT_Address* address, const uint8_t* data, size_t length) {
  if (!open_) {
    NoteError(COMM_FN_SEND, 1);
    return -1;
  }
  if (!CheckData(data, length)) {
    NoteError(COMM_FN_SEND, 2);
    return -1;
  }
  if (SendData(address, data, length) < 0) {
    NoteError(COMM_FN_SEND, 4);
    return -1;
  }
  return 1;
}

int KT_CommBase::Receive(KT_Address* address, std::vector<uint8_t>& buffer) {
  return ReceiveData(address, buffer);
}

namespace {
std::mutex g_layer_mutex;
int g_layer_starts = 0;
}  // namespace

int StartSocketLayer() {
  std::lock_guard<std::mutex> lock(g_layer_mutex);
  ++g_layer_starts;
  return 0;
}

int CleanupWinsock() {
  std::lock_guard<std::mutex> lock(g_layer_mutex);
  int calls = 0;
  while (g_layer_starts > 0) {
    --g_layer_starts;
    ++calls;
  }
  return calls;
}

int SocketLayerStarts() {
  std::lock_guard<std::mutex> lock(g_layer_mutex);
  return g_layer_starts;
}
