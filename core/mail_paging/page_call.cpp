#include "core/mail_paging/page_call.h"

const char* PagerBaudText(int baudIndex) {
  switch (baudIndex) {
    case 1:
      return "600";
    case 2:
      return "1200";
    case 3:
      return "2400";
    case 4:
      return "4800";
    case 5:
      return "9600";
    case 6:
      return "19200";
    case 7:
      return "38400";
    case 8:
      return "14400";
    case 9:
      return "28800";
    default:
      return "300";
  }
}

KT_PageCall MakePageCall(const KT_PagerConfig& recipient, const std::string& message) {
  KT_PageCall call;
  call.port.CopyFrom(recipient);
  call.tap = recipient.GetTap() != 0;
  if (!call.tap) call.lineText = std::string("B") + PagerBaudText(recipient.GetBaudIndex());
  call.initString = recipient.GetInitString().value_or("");
  call.dialString = recipient.GetDialString().value_or("");
  call.accessNumber = recipient.GetAccessNumber().value_or("");
  if (call.tap) {
    call.pin = recipient.GetPin().value_or("");
    call.maxCharacters = recipient.GetMaxCharacters().value_or("");
  } else {
    call.delaySeconds = recipient.GetDelaySeconds().value_or("");
  }
  call.message = message;
  return call;
}
