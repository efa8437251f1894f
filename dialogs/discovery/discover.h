// CDiscover: "Discover", the subnets the consoles' discovery object gDiscover searches. Add
// and Delete change gDiscover's list at once (as CDiscoverc does its owner's); OK starts a
// search of agents and network adapters, whose answers the console's host selection
// collects. Run modally by whoever opens it; pDiscover is the opener's to set.
#pragma once

#include "dialogs/discovery/discoverc.h"

class CDiscover : public CDiscoverc {
  Q_OBJECT

 public:
  explicit CDiscover(QWidget* parent = nullptr);

  void OnOK() override;

 protected:
  KT_Discover* SubnetList() const override;
};

extern CDiscover* pDiscover;
