// The network-message action dialog as the network manager dialog sees it: while that dialog
// is open, pNetworkMessage points to it; the manager dialog then takes its data from gScp as
// that dialog left it and asks it to reload after OK. Null while no such dialog is open.
#pragma once

class NetworkMessageLink {
 public:
  virtual ~NetworkMessageLink() = default;
  // Reloads the dialog's view of the trap receivers and its other settings from gScp's
  // notification block.
  virtual void GetCurrentConfig() = 0;
};

extern NetworkMessageLink* pNetworkMessage;
