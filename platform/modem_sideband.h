// Modem lines for pseudo-terminals.
//
// A pseudo-terminal carries bytes but no modem lines, so a simulated device on the master side
// and the serial port on the slave side share the lines through a small shared-memory region
// instead. The region is named after the canonical path of the slave device
// ("/dev/pts/7" -> "/vigil-modem-dev-pts-7" under /dev/shm), so the port finds it from its
// device name alone. The device side creates it, the computer side attaches to it when its
// device has no real modem lines.
//
// Region layout (native byte order, version 1):
//   u32 magic "VMSB"   u32 version   i32 device pid   u32 reserved
//   u32 host lines     (DTR 0x02, RTS 0x04; written by the computer side)
//   u32 host changes   (incremented on every host-line write; futex word)
//   u32 device lines   (CTS 0x20, DCD 0x40, RI 0x80, DSR 0x100; written by the device side)
//   u32 device ack     (the host-change count the device has reacted to; futex word)
//   char device path[256]
//
// Wiring reacts instantly on a real cable (CTS looped to RTS, say). To keep that true here,
// the computer side that changed its lines waits (briefly, bounded) for the device side to
// acknowledge the change before it reads the device lines.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class ModemSideband {
 public:
  // How long the computer side waits for a live device side to react to a line change.
  static constexpr int kReactionTimeoutMs = 250;

  ~ModemSideband();
  ModemSideband(const ModemSideband&) = delete;
  ModemSideband& operator=(const ModemSideband&) = delete;

  // Shared-memory name of the region for a device path (the path is made canonical first).
  static std::string RegionName(const std::string& device_path);

  // Device side: creates the region for the device (replacing a stale one) and owns its name
  // until destroyed. Null with *error set on failure.
  static std::unique_ptr<ModemSideband> Create(const std::string& device_path, int* error);

  // Computer side: the region of a live device side for this path, or null when there is none
  // (no region, a region of another device, or one whose owner has died).
  static std::unique_ptr<ModemSideband> Attach(const std::string& device_path);

  // Whether the device side that created the region still runs.
  bool DeviceAlive() const;

  // Computer side.
  void SetHostLines(uint32_t lines);
  uint32_t HostLines() const;
  uint32_t DeviceLines() const;
  // True once the device side has acknowledged the latest host-line change (at once when
  // nothing is pending); false after `timeout_ms` or when the device side is gone.
  bool WaitDeviceCaughtUp(int timeout_ms);

  // Device side.
  void SetDeviceLines(uint32_t lines);
  uint32_t HostChangeCount() const;
  // Blocks until the host-change count differs from `seen` or `timeout_ms` passes; returns
  // the current count.
  uint32_t WaitHostChange(uint32_t seen, int timeout_ms);
  // Tells the computer side that the device has reacted to changes up to `count`.
  void Acknowledge(uint32_t count);

 private:
  struct Region;
  ModemSideband(Region* region, std::string name, bool owner);

  Region* region_;
  std::string name_;
  bool owner_;
};

}  // namespace platform
