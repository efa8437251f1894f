// The client agents of a master agent (configuration branches 9 and 10), and the list a
// discovery search fills. No two clients with the same address; a read cursor.
#pragma once

#include <list>
#include <string>

#include "core/base/error_status.h"
#include "core/network/net_client.h"

class KT_NetClientList : public KT_ErrorStatus {
 public:
  // Most clients the record's count byte can describe.
  static constexpr int kMaxClients = 255;

  KT_NetClientList() = default;
  // Copies the clients; the copy's cursor is at its start.
  KT_NetClientList(const KT_NetClientList& other) : KT_ErrorStatus(other), clients_(other.clients_) { Reset(); }
  KT_NetClientList& operator=(const KT_NetClientList& other) {
    if (this != &other) {
      clients_ = other.clients_;
      Reset();
    }
    return *this;
  }

  // Appends a client with copies of these; false (nothing changed) when a client with an
  // equal address is listed or the list is full.
  bool Add(const KT_Address& address, const char* password, uint8_t warnDelay, uint8_t shutDelay,
           uint8_t timeShutDelay);
  bool Add(const KT_NetClient& client);
  // Removes the client with that address: 1, or 0 when none.
  int Remove(const KT_Address& address);
  // The first client whose host name equals the text exactly (a client without a stored
  // name is named by its address's lookup), or null.
  KT_NetClient* FindByName(const std::string& name);
  KT_NetClient* FindByAddress(const KT_Address& address);
  int Count() const { return static_cast<int>(clients_.size()); }
  // Cursor to the first client; GetNext answers the client at the cursor and moves on, null
  // at the end.
  void Reset() { cursor_ = clients_.begin(); }
  KT_NetClient* GetNext();
  void Clear();
  // Exchanges the contents of two lists (cursors back to the start).
  void Swap(KT_NetClientList& other);

  std::list<KT_NetClient>& Clients() { return clients_; }
  const std::list<KT_NetClient>& Clients() const { return clients_; }

 private:
  std::list<KT_NetClient> clients_;
  std::list<KT_NetClient>::iterator cursor_ = clients_.begin();
};
