// KT_CommDevice: the abstract communication device under every UPS protocol. It owns the
// line settings and the open/closed state; KT_SerialPort implements the eight operations.
#pragma once

#include <cstdint>
#include <vector>

#include "core/scp/port_settings.h"

// One read: the bytes that arrived and how the read went.
struct KT_ReadRecord {
  static constexpr int kMaxCapacity = 4096;

  // The bytes read, exactly as many as arrived (empty when nothing did).
  std::vector<uint8_t> data;
  // Bytes read, or -1 when the port reported an input overflow (the bytes are still in data).
  int length = 0;
  // Most bytes to read; 0 (or anything outside 1..4096) means 4096.
  int capacity = 0;
  // A byte that ends the read as soon as it has arrived (a reply's line end), 0..255; -1 for
  // none: the read then ends at the capacity, the interval gap or the time-out only.
  int endByte = -1;

  // The capacity a read actually uses.
  int EffectiveCapacity() const {
    return (capacity <= 0 || capacity > kMaxCapacity) ? kMaxCapacity : capacity;
  }
};

class KT_CommDevice {
 public:
  // Device states.
  static constexpr int kClosed = -1;
  static constexpr int kOpen = 0;

  KT_CommDevice() = default;
  virtual ~KT_CommDevice();
  KT_CommDevice(const KT_CommDevice&) = delete;
  KT_CommDevice& operator=(const KT_CommDevice&) = delete;

  // The eight operations, in slot order. The base bodies only report that a derived class
  // forgot one ("programmer error: ...") and return -1.
  virtual int Close() = 0;                                 // 0
  virtual int Read(KT_ReadRecord& record) = 0;             // 1: 1 data, 0 nothing, -1 error
  virtual int Write(const void* bytes, int count);         // 2: 1 all written, -1 error
  virtual int Open() = 0;                                  // 3: 0, -1
  virtual int ControlSet(int lines) = 0;                   // 4: 0x02 DTR, 0x04 RTS; 0, -1
  virtual int ControlCheck(int mask) = 0;                  // 5: lines of the mask that are on, -1
  virtual int Ready(int seconds) = 0;                      // 6: 1, -1
  virtual int SetBaud(int code) = 0;                       // 7: 0, -1

  KT_PortSettings& Settings() { return settings_; }
  const KT_PortSettings& Settings() const { return settings_; }
  int DeviceState() const { return state_; }
  bool IsDeviceOpen() const { return state_ >= 0; }

 protected:
  KT_PortSettings settings_;
  int state_ = kClosed;
};
