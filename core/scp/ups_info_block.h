// SCP block 2: what is known about the UPS and the agent that serves it: interface type and
// supported-function map, model, manufacturer, firmware version, model/serial-number/CTO texts,
// the agent's software version, the network adapter's version, the operating system, and the
// UPS's nominal ratings. Every SCP object has one. Never stored in a record file.
//
// Branches and record form (numbers big-endian, texts counted):
//   1  1 interface type (1)            2 supported-function map (length byte + bytes)
//   2  1 model index (1)  2 manufacturer (1)  3 variant (1)  4, 5 UPS version (1 each)
//      6 model text  7 serial number  8 CTO text  9 reserved number (4)
//   3  1, 2 software version second and third numbers (1 each)  3 reserved text
//      4, 5 adapter version (1 each)
//   4  1 operating-system type (1)  2..4 operating-system version major, minor, build (1 each)
//   5  1 VA rating / 50, 2 watt rating / 50 (4 bytes each for peers newer than 0.36, else 2)
//      3 nominal input voltage  4 input frequency  5 output voltage  6 output frequency (2 each)
//      7 number of output phases (1)
//
// Every conversion of branch 5 first copies 3.1 and 3.2 into the process-wide peer software
// version (core/base/peer_version.h), which then picks the rating widths; in a whole block branch 3
// comes before branch 5, so the version carried in the same message decides.
//
// Route of every branch: the UPS side. Refresh period: never (only Reset makes it stale).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/scp/block.h"

// Serial protocols (kept locally, never converted).
enum UpsProtocolKind : int {
  PROTOCOL_BCM = 0,
  PROTOCOL_VARNIS = 1,
  PROTOCOL_CONTACT_CLOSURE = 2,
  PROTOCOL_APC = 3,
};

// Operating-system type 15: this agent's own ("Linux").
inline constexpr int kOsTypeLinux = 15;

// Name of an operating-system table entry (0 "Unknown Operating System", 1..19); entry 0 for
// any other index.
const char* GetOsTableName(int entry);

// The agent's own product version: its second and third numbers. The default reads the
// agent's version triple of the product information (SetupData, setup.dat in the working
// directory); a program or a test may install another source.
struct AgentSoftwareVersion {
  uint8_t second = 1;
  uint8_t third = 4;
};
using AgentVersionSource = std::function<AgentSoftwareVersion()>;
// Installs the source; an empty function restores the default.
void SetAgentVersionSource(AgentVersionSource source);
AgentSoftwareVersion GetAgentSoftwareVersion();

class UpsInfoBlock : public KT_Block {
 public:
  UpsInfoBlock();

  // Every field back to its unknown value, the function map to its default bits, the change
  // states and update times of branches 0..5 cleared.
  void Reset();

  // Small fields: a value outside the field's range stores 255.
  void SetInterfaceType(int v);  // 0..9
  void SetModelIndex(int v);     // 0..25
  void SetManufacturer(int v);   // 0..4
  void SetVariant(int v);        // 0..2
  void SetOsType(int v);         // 0..18
  void SetProtocol(int p);       // 0..3
  void SetVersion(int major, int minor);
  void SetAdapterVersion(int major, int minor);
  void SetOsVersion(int major, int minor, int build);
  // The agent's own version (3.1, 3.2) from the product information.
  void SetSoftwareVersion();
  // Stores 3.1 and 3.2 as given.
  void SetSoftwareVersion(int second, int third);

  int GetInterfaceType() const { return interface_type_; }
  int GetModelIndex() const { return model_index_; }
  int GetManufacturer() const { return manufacturer_; }
  int GetVariant() const { return variant_; }
  int GetProtocol() const { return protocol_; }
  int GetVersionMajor() const { return version_major_; }
  int GetVersionMinor() const { return version_minor_; }
  int GetSoftwareVersionSecond() const { return software_second_; }
  int GetSoftwareVersionThird() const { return software_third_; }
  int GetAdapterVersionMajor() const { return adapter_major_; }
  int GetAdapterVersionMinor() const { return adapter_minor_; }
  int GetOsType() const { return os_type_; }
  int GetOsVersionMajor() const { return os_major_; }
  int GetOsVersionMinor() const { return os_minor_; }
  int GetOsVersionBuild() const { return os_build_; }
  int32_t GetReserved() const { return reserved_; }
  const std::optional<std::string>& GetReservedText() const { return reserved_text_; }

  // Ratings are kept in units of 50 (whole division); the getters give -1 when unknown.
  void SetVARating(int va);
  void SetWattRating(int w);
  int GetVARating() const { return va_rating_ == -1 ? -1 : va_rating_ * 50; }
  int GetWattRating() const { return watt_rating_ == -1 ? -1 : watt_rating_ * 50; }
  void SetNominalInputVoltage(int v);
  void SetNominalInputFrequency(int v);
  void SetNominalOutputVoltage(int v);
  void SetNominalOutputFrequency(int v);
  void SetNumberOfPhases(int v);
  int GetNominalInputVoltage() const { return input_voltage_; }
  int GetNominalInputFrequency() const { return input_frequency_; }
  int GetNominalOutputVoltage() const { return output_voltage_; }
  int GetNominalOutputFrequency() const { return output_frequency_; }
  int GetNumberOfPhases() const { return phases_; }

  // Texts: 0, or -1 for a null text (error 10, fn, 1). Getters: a copy, or nothing when none
  // is set.
  int SetModelText(const char* text);
  int SetSerialNumber(const char* text);
  int SetCto(const char* text);
  std::optional<std::string> GetModelText() const { return model_text_; }
  std::optional<std::string> GetSerialNumber() const { return serial_number_; }
  std::optional<std::string> GetCto() const { return cto_; }

  // "%d.%02d" of the UPS version / of the adapter version.
  std::string GetVersionText() const;
  std::string GetAdapterVersionText() const;
  // "%d.%02d" of 3.1 and 3.2 when the interface type is 5 (an adapter reached without an
  // agent), else "4.%d.%02d".
  std::string GetSoftwareVersionText() const;
  // "%d.%d.%d", or "%d.%d" when the build is 0.
  std::string GetOsVersionText() const;
  // The operating-system table's entry for the type (type + 1; entry 0 for an unknown type).
  std::string GetOsName() const;

  // Supported-function map: bit b of byte n set = function (n, b) supported.
  // Set: grows the map as needed (new bytes 0); n 0..254, b 0..7; 1, or -1 with error
  // (10, 9, 1 / 2 / 3). Clear: 1, or -1 with error (10, 10, 1 no map / 2 n beyond / 3 b).
  // Is: 1 set; 0 not set, n beyond the map or no map; -1 with error (10, 11, 1) for b.
  int SetFunctionSupported(int n, int b);
  int ClearFunctionSupported(int n, int b);
  int IsFunctionSupported(int n, int b);
  int GetFunctionMapSize() const { return static_cast<int>(function_map_.size()); }
  const std::vector<uint8_t>& GetFunctionMap() const { return function_map_; }

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

 private:
  void MarkChanged(int branch, int field) { branches_.SetFieldState(branch, field, FIELD_CHANGED); }
  int SetText(std::optional<std::string>& slot, const char* text, int function, int branch, int field);
  int ConvertFunctionMap(int direction, KT_RecordWriter* out, KT_RecordReader* in);
  int ConvertRating(int32_t& rating, int direction, KT_RecordWriter* out, KT_RecordReader* in);

  // Branch 1
  uint8_t interface_type_ = 255;
  std::vector<uint8_t> function_map_;
  // Branch 2
  uint8_t model_index_ = 255;
  uint8_t manufacturer_ = 255;
  uint8_t variant_ = 255;
  uint8_t version_major_ = 255;
  uint8_t version_minor_ = 255;
  std::optional<std::string> model_text_;
  std::optional<std::string> serial_number_;
  std::optional<std::string> cto_;
  int32_t reserved_ = -1;
  // Branch 3
  uint8_t software_second_ = 255;
  uint8_t software_third_ = 255;
  std::optional<std::string> reserved_text_;
  uint8_t adapter_major_ = 255;
  uint8_t adapter_minor_ = 255;
  // Branch 4
  uint8_t os_type_ = 255;
  uint8_t os_major_ = 255;
  uint8_t os_minor_ = 255;
  uint8_t os_build_ = 255;
  // Branch 5
  int32_t va_rating_ = -1;
  int32_t watt_rating_ = -1;
  uint16_t input_voltage_ = 0xFFFF;
  uint16_t input_frequency_ = 0xFFFF;
  uint16_t output_voltage_ = 0xFFFF;
  uint16_t output_frequency_ = 0xFFFF;
  uint8_t phases_ = 255;
  // Local only.
  uint8_t protocol_ = 255;
};
