// The agent search that the dialogs choosing a network client share (the shutdown parameters'
// Network Clients page, the remote message action, the network client dialog): open the
// discovery object's channel, show the "Discovery Process" notice over the searching dialog,
// ask every subnet (and IPX when the agent's computer may be reached by it), collect the
// answers into the dialog's list, close the notice, and name the subnets that could not be
// asked.
#pragma once

#include <QString>

class KT_Address;
class KT_Discover;
class KT_NetClientList;
class QComboBox;
class QWidget;

enum class HostSearchResult {
  NoChannel,  // the channel could not be opened: nothing was asked, the list is untouched
  NotSent,    // no request went out: the list keeps the clients of the previous search
  Searched,   // the list holds the clients that answered
};

// Whether a search for this agent's clients also asks IPX, from gScp's UPS information block.
bool AgentSearchesIpx();

// Runs one search. A subnet that could not be asked (a mistyped name in "cfsubnet.dat", say)
// is reported in one box "Unable to search subnet " + the names, owned by `owner`; the other
// subnets are searched all the same.
HostSearchResult SearchHosts(QWidget* owner, KT_Discover& discover, KT_NetClientList& found, bool ipx);

// The text a client list shows for a host: its name, " - (Remote Server)" behind an IPX host.
QString HostEntryText(KT_Address& address);
// The host name of such an entry text (the suffix and what follows it cut off).
QString HostOfEntryText(const QString& text);
// Empties the combo box and lists every client of `found`, sorted.
void FillHostCombo(QComboBox* combo, KT_NetClientList& found);
