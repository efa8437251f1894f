// KT_CommBase: the channel base of the system's three message channels, the UDP and IPX
// datagram channels and the shared-memory channel. A channel moves one message at a time.
//
// Virtual operations, in slot order:
//   0 Initialize                 start the transport; 1 on success
//   1 Open (port or role)        create the endpoint; 0 (1 for KT_IPC) on success, -1
//   2 Close                      release the endpoint
//   3 SendData (address, bytes)  one message; 0 on success, -1
//   4 ReceiveData (address, buf) one waiting message: its sender into the address, its bytes
//                                into buf; 1 with data, 0 when nothing was taken, -1 failure
//   5 GetHostName                host name of the local address
//   6 GetPort                    port of the local address (network byte order)
//
// Callers use the non-virtual wrappers OpenChannel, Send, Receive and CloseChannel. The
// base's own checks fill the error record (class 7) without appending it to error.dat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/network/address.h"
#include "core/base/error_status.h"

// Function codes of the base's error records (class 7).
enum KT_CommBaseFunction : int32_t {
  COMM_FN_OPEN = 1,
  COMM_FN_CHECK = 2,
  COMM_FN_SEND = 3,
};

class KT_CommBase : public KT_ErrorStatus {
 public:
  KT_CommBase() = default;
  virtual ~KT_CommBase();
  KT_CommBase(const KT_CommBase&) = delete;
  KT_CommBase& operator=(const KT_CommBase&) = delete;

  virtual int Initialize() = 0;
  virtual int Open(int portOrRole) = 0;
  virtual void Close() = 0;
  virtual int SendData(KT_Address* address, const uint8_t* data, size_t length) = 0;
  virtual int ReceiveData(KT_Address* address, std::vector<uint8_t>& buffer) = 0;
  virtual const char* GetHostName() = 0;
  virtual uint16_t GetPort() = 0;

  // Open; a negative result gives error code 2 (with the system error Open met) and -1, else
  // the open flag is set and 0.
  int OpenChannel(int portOrRole);
  // Close when open; the open flag drops. Returns 0.
  int CloseChannel();
  int IsOpen() const { return open_; }
  // 1 when the buffer may be sent; 0 for a zero length (code 1) or a null pointer (code 2).
  int CheckData(const uint8_t* data, size_t length);
  // SendData behind the checks: not open -> code 1, refused buffer -> code 2, SendData
  // failed -> code 4. 1 on success, -1 on failure.
  int Send(KT_Address* address, const uint8_t* data, size_t length);
  int Send(KT_Address* address, const std::vector<uint8_t>& data) { return Send(address, data.data(), data.size()); }
  // ReceiveData's result.
  int Receive(KT_Address* address, std::vector<uint8_t>& buffer);

  // The socket handle (-1 when none); for KT_IPC the role.
  int GetSocket() const { return socket_; }

 protected:
  void NoteError(int32_t function, int32_t code, int32_t sysError = 0);

  int open_ = 0;
  int socket_ = -1;
};

// The process's use of the socket layer, counted as the system's code expects: every
// Initialize of a datagram channel starts it once more, and CleanupWinsock ends every start.
// Starts the socket layer once more; returns 0.
int StartSocketLayer();
// Ends the process's socket-layer use: one clean-up per start until the layer reports that
// it is not started. Returns the number of clean-ups that succeeded.
int CleanupWinsock();
// Number of starts not yet cleaned up.
int SocketLayerStarts();
