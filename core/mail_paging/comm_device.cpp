#include "core/mail_paging/comm_device.h"

#include "core/base/ktdiag.h"

KT_CommDevice::~KT_CommDevice() {
  if (state_ != kClosed) KT_CommDevice::Close();
  state_ = kClosed;
}

int KT_CommDevice::Close() {
  Diag() << "programmer error: Not implemented in the child.\n";
  return -1;
}

int KT_CommDevice::Read(KT_ReadRecord&) {
  Diag() << "programmer error: Read Not implemented in the child.\n";
  return -1;
}

int KT_CommDevice::Write(const void*, int) {
  Diag() << "programmer error: Write Not implemented in the child.\n";
  return -1;
}

int KT_CommDevice::Open() {
  Diag() << "programmer error: Open Not implemented in the child.\n";
  return -1;
}

int KT_CommDevice::ControlSet(int) {
  Diag() << "programmer error: ControlSet Not implemented in the child.\n";
  return -1;
}

int KT_CommDevice::ControlCheck(int) {
  Diag() << "programmer error: ControlCheck Not implemented in the child.\n";
  return -1;
}

int KT_CommDevice::Ready(int) {
  Diag() << "programmer error: Ready Not implemented in the child.\n";
  return -1;
}
