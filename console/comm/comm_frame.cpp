#include "console/comm/comm_frame.h"

#include "dialogs/frame/trem_globals.h"

CCommFrame::CCommFrame(QObject* parent) : QObject(parent) {
  setObjectName(Title());
}

CCommFrame::~CCommFrame() = default;

void CCommFrame::customEvent(QEvent* e) {
  if (e->type() != kCommFrameDiscoverEventType) return;
  gDiscover.SendDiscoveryRequest(1, 1, 1);
  ++discoveries_;
}
