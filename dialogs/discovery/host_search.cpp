#include "dialogs/discovery/host_search.h"

#include <QComboBox>
#include <QStringList>
#include <string>
#include <vector>

#include "core/discovery/discover.h"
#include "core/network/net_client_list.h"
#include "dialogs/discovery/discovery_wait_dlg.h"
#include "dialogs/discovery/network_configuration.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"

static const StringTableRegistrar kStrings{
    {3596, "Unable to search subnet "},
};

bool AgentSearchesIpx() {
  auto lock = gScp.Lock();
  return CNetworkConfiguration::SearchesIpx(gScp.upsInfo.GetSoftwareVersionSecond(),
                                            gScp.upsInfo.GetSoftwareVersionThird(), gScp.upsInfo.GetOsType());
}

HostSearchResult SearchHosts(QWidget* owner, KT_Discover& discover, KT_NetClientList& found, bool ipx) {
  discover.Initialize();
  if (!discover.IsOpen() && discover.OpenChannel(0) < 0) return HostSearchResult::NoChannel;
  ShowDiscoveryWait(owner);
  // An empty subnet list is searched, and from then on kept, as the broadcast address. Where
  // the kernel has no IPX the IPX queries go nowhere and the search is UDP alone.
  const bool sent = discover.SendDiscoveryRequest(0, 1, ipx ? 1 : 0) > 0;
  if (sent) {
    found.Clear();
    discover.CollectReplies(&found, 1, ipx ? 1 : 0);
  }
  CloseDiscoveryWait();
  const std::vector<std::string> failed = discover.FailedSubnets();
  if (!failed.empty()) {
    QStringList names;
    for (const std::string& subnet : failed) names << QString::fromStdString(subnet);
    TremMessageBox(owner, LoadString(3596) + names.join(QStringLiteral(", ")), MB_OK | MB_ICONEXCLAMATION);
  }
  return sent ? HostSearchResult::Searched : HostSearchResult::NotSent;
}

QString HostEntryText(KT_Address& address) {
  return CNetworkConfiguration::ShownText(address);
}

QString HostOfEntryText(const QString& text) {
  const int at = text.indexOf(QLatin1String(CNetworkConfiguration::kRemoteServerSuffix));
  return at < 0 ? text : text.left(at);
}

void FillHostCombo(QComboBox* combo, KT_NetClientList& found) {
  const QString typed = combo->isEditable() ? combo->currentText() : QString();
  combo->clear();
  for (KT_NetClient& client : found.Clients()) combo->addItem(HostEntryText(client.address));
  combo->model()->sort(0);
  if (combo->isEditable()) combo->setEditText(typed);
}
