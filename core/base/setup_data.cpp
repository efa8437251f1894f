#include "core/base/setup_data.h"

#include <cstdio>
#include <cstring>

#include "platform/record_file.h"

namespace {

// Built-in model names, entries 1..24. Entry 14 is the model of a UPS whose identification
// names no known model: it has no name of its own, so the UPS's own model text shows alone.
constexpr const char* kDefaultModels[SetupData::kModelCount] = {
    "Unknown UPS",
    "Brenvale Keystone",
    "Brenvale Pilot",
    "Brenvale Bastion",
    "Contact Closure UPS",
    "Brenvale Harbor",
    "Brenvale Keystone Plus",
    "Brenvale Beacon",
    "Quintark SmartLine",
    "Quintark BasicLine",
    "Harvan Tower",
    "Brenvale Citadel",
    "Brenvale Citadel XL",
    "Brenvale Three Phase",
    "",
    "Brenvale Rampart",
    "Harvan Meridian",
    "Brenvale Keystone II",
    "Brenvale Summit 1000",
    "Brenvale Summit 2000",
    "Brenvale Summit 3000",
    "Brenvale Ridge",
    "Brenvale Ridge Rack",
    "Brenvale Ridge Tower",
    "Brenvale Vantage",
};

constexpr const char* kDefaultApplications[SetupData::kApplicationCount] = {
    "Unknown Application Type",
    "Fenn",
    "Tavona",
    "",
    "",
    "Network Adapter Connection",
    "Tremona\u00AE",
    "Kessa",
    "Agent",
};

constexpr const char* kDefaultVendor = "Brenvale";
constexpr const char* kDefaultCompany = "Brenvale Corporation";
constexpr int32_t kDefaultVendorCode = kVendorCodeMaker;
constexpr SetupData::Version kDefaultVersion{4, 1, 4};

// Largest setup.dat worth reading: a full table is under 9 KB.
constexpr size_t kMaxFileSize = 64 * 1024;

struct VendorEntry {
  int32_t code;
  const char* name;
};

constexpr VendorEntry kVendors[] = {
    {203, "Quintark"},
    {kVendorCodeMaker, "Brenvale"},
    {kVendorCodeHarvan, "Harvan"},
    {231, "Lindcrest"},
    {250, "Morvane"},
};

std::string Cut(const char* text) {
  return std::string(text, ::strnlen(text, SetupData::kMaxText));
}

}  // namespace

SetupData::SetupData() {
  models_[0] = kDefaultModels[0];
  applications_[0] = kDefaultApplications[0];
  if (ReadFile(kFileName) < 0) SetDefaults();
}

void SetupData::SetDefaults() {
  for (int i = 0; i < kModelCount; ++i) models_[i] = kDefaultModels[i];
  for (int i = 0; i < kApplicationCount; ++i) applications_[i] = kDefaultApplications[i];
  vendor_ = kDefaultVendor;
  company_ = kDefaultCompany;
  for (int i = 0; i < kVersionCount; ++i) versions_[i] = Version{};
  versions_[0] = versions_[1] = versions_[6] = versions_[7] = kDefaultVersion;
  vendorCode_ = kDefaultVendorCode;
}

int SetupData::ReadFile(const char* name) {
  if (name == nullptr || *name == '\0') return -1;
  std::vector<uint8_t> bytes;
  const platform::FileResult r =
      platform::RecordFile::Read(name, bytes, platform::RecordFile::Open::kCreateIfMissing, kMaxFileSize,
                                 platform::RecordFile::Links::kRefuse);
  if (!r || bytes.empty()) return -1;
  return ReadBytes(bytes);
}

int SetupData::ReadBytes(std::span<const uint8_t> bytes) {
  // Everything is read into a fresh table first and taken over only when it is whole.
  platform::ByteReader in(bytes);
  std::array<std::string, kModelCount> models;
  std::array<std::string, kApplicationCount> applications;
  std::string vendor;
  std::string company;
  std::array<Version, kVersionCount> versions{};
  int32_t vendorCode = 0;

  for (int i = 1; i < kModelCount; ++i) in.GetZString(models[i], kMaxText);
  in.GetZString(vendor, kMaxText);
  in.GetZString(company, kMaxText);
  for (int i = 1; i < kApplicationCount; ++i) in.GetZString(applications[i], kMaxText);
  for (auto& v : versions) {
    in.GetI32LE(v.major);
    in.GetI32LE(v.minor);
    in.GetI32LE(v.build);
  }
  in.GetI32LE(vendorCode);
  if (!in.Ok()) return -1;

  for (int i = 1; i < kModelCount; ++i) models_[i] = std::move(models[i]);
  for (int i = 1; i < kApplicationCount; ++i) applications_[i] = std::move(applications[i]);
  vendor_ = std::move(vendor);
  company_ = std::move(company);
  versions_ = versions;
  vendorCode_ = vendorCode;
  return 1;
}

std::vector<uint8_t> SetupData::ToBytes() const {
  platform::ByteWriter out(4096);
  for (int i = 1; i < kModelCount; ++i) out.PutZString(models_[i]);
  out.PutZString(vendor_);
  out.PutZString(company_);
  for (int i = 1; i < kApplicationCount; ++i) out.PutZString(applications_[i]);
  for (const auto& v : versions_) {
    out.PutI32LE(v.major);
    out.PutI32LE(v.minor);
    out.PutI32LE(v.build);
  }
  out.PutI32LE(vendorCode_);
  return out.Take();
}

int SetupData::WriteFile(const char* name) const {
  if (name == nullptr || *name == '\0') return -1;
  const std::vector<uint8_t> bytes = ToBytes();
  return platform::RecordFile::Replace(name, bytes, platform::RecordFile::Links::kRefuse) ? 1 : -1;
}

const std::string& SetupData::GetUpsModelName(int index) const {
  return models_[index >= 1 && index < kModelCount ? index : 0];
}

void SetupData::SetUpsModelName(const char* text, int index) {
  if (text != nullptr && index >= 1 && index < kModelCount) models_[index] = Cut(text);
}

const std::string& SetupData::GetApplicationTypeName(int index) const {
  return applications_[index >= 1 && index < kApplicationCount ? index : 0];
}

void SetupData::SetApplicationTypeName(const char* text, int index) {
  if (text != nullptr && index >= 1 && index < kApplicationCount) applications_[index] = Cut(text);
}

void SetupData::SetVendorText(const char* text) {
  if (text != nullptr) vendor_ = Cut(text);
}

void SetupData::SetCompanyText(const char* text) {
  if (text != nullptr) company_ = Cut(text);
}

SetupData::Version SetupData::GetVersion(int n) const {
  return n >= 1 && n <= kVersionCount ? versions_[n - 1] : Version{};
}

void SetupData::SetVersion(int n, const Version& v) {
  if (n >= 1 && n <= kVersionCount) versions_[n - 1] = v;
}

std::string SetupData::VersionText(int n) const {
  const Version v = GetVersion(n);
  // Room for three full 32-bit numbers: the text is never cut or overrun.
  char text[48];
  std::snprintf(text, sizeof text, "%d.%0d.%02d", v.major, v.minor, v.build);
  return text;
}

std::string VendorName(int32_t code) {
  for (const auto& v : kVendors) {
    if (v.code == code) return v.name;
  }
  return "None";
}

int32_t VendorCode(const char* text) {
  if (text == nullptr) return 0;
  for (const auto& v : kVendors) {
    if (std::strcmp(v.name, text) == 0) return v.code;
  }
  return 0;
}
