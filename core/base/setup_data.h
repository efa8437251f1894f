// SetupData: the product information table (UPS model names, application-type names, vendor
// and company texts, version numbers, vendor code), read from "setup.dat" in the working
// directory with built-in defaults.
//
// setup.dat (numbers are 32-bit little-endian; texts are byte strings of at most 255
// characters followed by a 0 byte), in this order:
//   24 texts   model names 1..24
//    1 text    vendor text
//    1 text    company text
//    8 texts   application-type names 1..8
//   24 numbers the 8 version triples (major, minor, build)
//    1 number  vendor code
// Bytes after the vendor code are ignored. A file that ends early or holds a text without its
// 0 byte within 256 bytes is not used at all: the table then keeps the built-in defaults, never
// a partly read mix.
//
// The object reads the file each time it is built; nothing caches it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/base/error_status.h"

class SetupData : public KT_ErrorStatus {
 public:
  static constexpr int kModelCount = 25;       // entries 0..24, 0 = "Unknown UPS"
  static constexpr int kApplicationCount = 9;  // entries 0..8, 0 = "Unknown Application Type"
  static constexpr int kVersionCount = 8;
  static constexpr size_t kMaxText = 255;
  static constexpr const char* kFileName = "setup.dat";

  struct Version {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t build = 0;
    bool operator==(const Version&) const = default;
  };

  // Sets the two entry-0 texts, then reads "setup.dat"; when that fails, the defaults.
  SetupData();

  // Reads the table from a file. The file is opened as the record files are (created empty
  // when missing). -1 when the name is null, the file cannot be used, is empty or does not
  // hold a whole table (the table is then unchanged); 1 when read.
  int ReadFile(const char* name);
  // Writes the table; 1 on success, -1 when the file cannot be written. The file is replaced
  // as a whole, never left half-written.
  int WriteFile(const char* name) const;

  // The same two steps on bytes in memory (ReadBytes: 1 or -1 as ReadFile).
  int ReadBytes(std::span<const uint8_t> bytes);
  std::vector<uint8_t> ToBytes() const;

  // All names, texts, versions and the vendor code back to the built-in values.
  void SetDefaults();

  // Entry index for 1..24, else entry 0. The text belongs to the table.
  const std::string& GetUpsModelName(int index) const;
  // Stores the text (cut to 255 characters) for 1..24; otherwise, or for a null text, nothing.
  void SetUpsModelName(const char* text, int index);

  // Entry index for 1..8, else entry 0. The text belongs to the table.
  const std::string& GetApplicationTypeName(int index) const;
  void SetApplicationTypeName(const char* text, int index);

  const std::string& GetVendorText() const { return vendor_; }
  void SetVendorText(const char* text);  // null changes nothing
  const std::string& GetCompanyText() const { return company_; }
  void SetCompanyText(const char* text);  // null changes nothing
  int32_t GetVendorCode() const { return vendorCode_; }
  void SetVendorCode(int32_t code) { vendorCode_ = code; }

  // Version triple n (1..8); triple 0 for any other n.
  Version GetVersion(int n) const;
  void SetVersion(int n, const Version& v);  // 1..8, else nothing

  // "%d.%0d.%02d" of version triple 1, 2, 7 and 8.
  std::string GetConsoleVersionText() const { return VersionText(1); }
  std::string GetVersionText2() const { return VersionText(2); }
  std::string GetVersionText7() const { return VersionText(7); }
  std::string GetAgentVersionText() const { return VersionText(8); }
  std::string VersionText(int n) const;

 private:
  std::array<std::string, kModelCount> models_;
  std::array<std::string, kApplicationCount> applications_;
  std::string vendor_;
  std::string company_;
  std::array<Version, kVersionCount> versions_{};
  int32_t vendorCode_ = 0;
};

// Vendor codes that UPS and adapter identifications report.
inline constexpr int32_t kVendorCodeMaker = 204;
inline constexpr int32_t kVendorCodeHarvan = 214;

// Vendor text for a code; "None" for a code not in the table.
std::string VendorName(int32_t code);
// The code whose vendor text equals the text exactly (case counts); 0 when none does.
int32_t VendorCode(const char* text);
