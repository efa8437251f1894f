#include "core/adapters/adapter_capabilities.h"

#include "core/base/ups_identification.h"

void SetAdapterUpsCapabilities(UpsInfoBlock& info, NotifyBlock& notify) {
  auto function = [&](int n, int b) { info.SetFunctionSupported(n, b); };
  auto event = [&](int n, int b) { notify.SetSupportBit(SUPPORT_EVENTS, n, b); };
  auto action = [&](int n, int b) { notify.SetSupportBit(SUPPORT_ACTIONS, n, b); };

  for (int b = 0; b <= 6; ++b) function(0, b);
  for (int b = 4; b <= 7; ++b) function(1, b);
  function(2, 0);
  function(3, 6);
  function(0, 7);
  function(3, 4);
  for (int b = 2; b <= 5; ++b) event(0, b);
  event(1, 6);
  event(1, 7);
  for (int b = 0; b <= 4; ++b) event(2, b);
  event(2, 6);
  event(2, 7);
  for (int b = 0; b <= 7; ++b) action(0, b);
  action(1, 3);
  info.SetManufacturer(kManufacturerOwn);
  if (info.GetOsType() == 2) notify.ClearSupportBit(SUPPORT_ACTIONS, 0, 1);
  if (info.GetOsType() == 3) action(1, 2);
  event(3, 0);
  function(2, 1);
  function(2, 2);
  function(2, 4);
  function(2, 7);
  function(3, 2);
  event(1, 0);
  event(1, 1);
  event(0, 0);
  event(0, 1);
  event(0, 6);
  event(0, 7);
  event(1, 4);
  event(1, 5);
}
