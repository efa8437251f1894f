#include "core/base/setup_data.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "tests/support/test_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using Bytes = std::vector<uint8_t>;

void ExpectDefaults(const SetupData& s) {
  EXPECT_EQ(s.GetUpsModelName(1), "Brenvale Keystone");
  EXPECT_EQ(s.GetApplicationTypeName(6), "Tremona\u00AE");
  EXPECT_EQ(s.GetVendorText(), "Brenvale");
  EXPECT_EQ(s.GetCompanyText(), "Brenvale Corporation");
  EXPECT_EQ(s.GetVendorCode(), 204);
  EXPECT_EQ(s.GetConsoleVersionText(), "4.1.04");
  EXPECT_EQ(s.GetVersionText2(), "4.1.04");
  EXPECT_EQ(s.GetVersionText7(), "4.1.04");
  EXPECT_EQ(s.GetAgentVersionText(), "4.1.04");
  EXPECT_EQ(s.VersionText(3), "0.0.00");
}

TEST(SetupDataTest, DefaultsWithoutAFile) {
  TempDir dir;
  SetupData s;
  ExpectDefaults(s);
  // The file is opened as the record files are: a missing one is created empty.
  EXPECT_TRUE(std::filesystem::exists("setup.dat"));
  EXPECT_EQ(std::filesystem::file_size("setup.dat"), 0u);

  for (int index : {0, 25, -1, 255}) EXPECT_EQ(s.GetUpsModelName(index), "Unknown UPS") << index;
  EXPECT_EQ(s.GetUpsModelName(24), "Brenvale Vantage");
  EXPECT_EQ(s.GetUpsModelName(14), "");
  int named = 0;
  for (int i = 1; i <= 24; ++i) named += !s.GetUpsModelName(i).empty();
  EXPECT_EQ(named, 23);

  for (int index : {0, 9, -3}) EXPECT_EQ(s.GetApplicationTypeName(index), "Unknown Application Type");
  EXPECT_EQ(s.GetApplicationTypeName(1), "Fenn");
  EXPECT_EQ(s.GetApplicationTypeName(2), "Tavona");
  EXPECT_EQ(s.GetApplicationTypeName(3), "");
  EXPECT_EQ(s.GetApplicationTypeName(5), "Network Adapter Connection");
  EXPECT_EQ(s.GetApplicationTypeName(7), "Kessa");
  EXPECT_EQ(s.GetApplicationTypeName(8), "Agent");
}

TEST(SetupDataTest, EmptyOrUnusableFileGivesDefaults) {
  TempDir dir;
  WriteFileBytes("setup.dat", {});
  ExpectDefaults(SetupData());
  std::filesystem::remove("setup.dat");
  std::filesystem::create_directory("setup.dat");
  ExpectDefaults(SetupData());
  SetupData s;
  EXPECT_EQ(s.ReadFile(nullptr), -1);
  EXPECT_EQ(s.ReadFile("setup.dat"), -1);
}

TEST(SetupDataTest, VendorTable) {
  EXPECT_EQ(VendorCode("Brenvale"), 204);
  EXPECT_EQ(VendorCode("brenvale"), 0);
  EXPECT_EQ(VendorCode("Harvan"), 214);
  EXPECT_EQ(VendorCode("None"), 0);
  EXPECT_EQ(VendorCode(nullptr), 0);
  EXPECT_EQ(VendorName(204), "Brenvale");
  EXPECT_EQ(VendorName(214), "Harvan");
  EXPECT_EQ(VendorName(0), "None");
  for (int32_t code : {203, 231, 250}) {
    const std::string name = VendorName(code);
    EXPECT_NE(name, "None");
    EXPECT_LT(name.size(), 20u);
    EXPECT_EQ(VendorCode(name.c_str()), code);
  }
}

SetupData Customised() {
  SetupData s;
  s.SetDefaults();
  s.SetUpsModelName("Model One", 1);
  s.SetUpsModelName("Model Last", 24);
  s.SetApplicationTypeName("Console", 2);
  s.SetVendorText("Acme");
  s.SetCompanyText("Acme Ltd");
  s.SetVendorCode(231);
  s.SetVersion(1, {5, 2, 7});
  s.SetVersion(8, {6, 0, 123});
  return s;
}

TEST(SetupDataTest, WriteAndReadBackWithTheExactLayout) {
  TempDir dir;
  const SetupData written = Customised();
  ASSERT_EQ(written.WriteFile("setup.dat"), 1);
  const Bytes bytes = ReadFileBytes("setup.dat");
  ASSERT_EQ(bytes, written.ToBytes());
  // Starts with model name 1 and its zero byte; ends with 24 version numbers and the vendor
  // code, little-endian.
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 10), std::string("Model One\0", 10));
  const size_t tail = bytes.size() - 25 * 4;
  EXPECT_EQ((Bytes(bytes.begin() + tail, bytes.begin() + tail + 12)), (Bytes{5, 0, 0, 0, 2, 0, 0, 0, 7, 0, 0, 0}));
  EXPECT_EQ((Bytes(bytes.end() - 4, bytes.end())), (Bytes{231, 0, 0, 0}));

  SetupData read;  // reads setup.dat
  EXPECT_EQ(read.ToBytes(), bytes);
  EXPECT_EQ(read.GetUpsModelName(24), "Model Last");
  EXPECT_EQ(read.GetApplicationTypeName(2), "Console");
  EXPECT_EQ(read.GetVendorText(), "Acme");
  EXPECT_EQ(read.GetConsoleVersionText(), "5.2.07");
  EXPECT_EQ(read.GetAgentVersionText(), "6.0.123");
  EXPECT_EQ(read.GetVendorCode(), 231);

  // Bytes after the vendor code are ignored.
  Bytes longer = bytes;
  longer.insert(longer.end(), {1, 2, 3});
  SetupData s;
  EXPECT_EQ(s.ReadBytes(longer), 1);
  EXPECT_EQ(s.ToBytes(), bytes);
}

// A link planted under the name is neither read, nor created through, nor written through.
TEST(SetupDataTest, ALinkUnderTheNameIsNeverFollowed) {
  TempDir dir;
  const Bytes victim = Customised().ToBytes();
  WriteFileBytes("victim", victim);
  std::filesystem::remove("setup.dat");  // made empty by the table's own read
  std::filesystem::create_symlink("victim", "setup.dat");
  ExpectDefaults(SetupData());
  EXPECT_EQ(Customised().WriteFile("setup.dat"), -1);
  EXPECT_EQ(ReadFileBytes("victim"), victim);
  EXPECT_TRUE(std::filesystem::is_symlink("setup.dat"));
  std::filesystem::remove("setup.dat");
  std::filesystem::create_symlink("absent", "setup.dat");  // dangling: nothing is created
  ExpectDefaults(SetupData());
  EXPECT_FALSE(std::filesystem::exists("absent"));
}

TEST(SetupDataTest, TruncatedFilesGiveDefaultsNeverAPartTable) {
  TempDir dir;
  const Bytes full = Customised().ToBytes();
  SetupData defaults;
  defaults.SetDefaults();
  for (size_t len = 1; len < full.size(); ++len) {
    SetupData s = defaults;
    ASSERT_EQ(s.ReadBytes(std::span<const uint8_t>(full.data(), len)), -1) << len;
    ASSERT_EQ(s.ToBytes(), defaults.ToBytes()) << len;
  }
  WriteFileBytes("setup.dat", Bytes(full.begin(), full.end() - 1));
  ExpectDefaults(SetupData());
}

TEST(SetupDataTest, TextLimitsAreKept) {
  TempDir dir;
  SetupData s;
  s.SetDefaults();
  Bytes file = s.ToBytes();
  // Model name 1 of exactly 255 characters is accepted; 256 makes the file unusable.
  Bytes longest(255, 'm');
  longest.insert(longest.end(), file.begin() + static_cast<ptrdiff_t>(s.GetUpsModelName(1).size()), file.end());
  EXPECT_EQ(s.ReadBytes(longest), 1);
  EXPECT_EQ(s.GetUpsModelName(1), std::string(255, 'm'));
  Bytes tooLong = longest;
  tooLong.insert(tooLong.begin(), 'm');
  s.SetDefaults();
  EXPECT_EQ(s.ReadBytes(tooLong), -1);
  EXPECT_EQ(s.GetUpsModelName(1), "Brenvale Keystone");

  // Setters cut to what the file can hold, and ignore null texts and bad indexes.
  s.SetUpsModelName(std::string(400, 'x').c_str(), 3);
  EXPECT_EQ(s.GetUpsModelName(3).size(), 255u);
  s.SetUpsModelName("never", 25);
  s.SetUpsModelName("never", 0);
  s.SetUpsModelName(nullptr, 2);
  s.SetApplicationTypeName("never", 9);
  s.SetVendorText(nullptr);
  EXPECT_EQ(s.GetUpsModelName(0), "Unknown UPS");
  EXPECT_EQ(s.GetUpsModelName(2), "Brenvale Pilot");
  EXPECT_EQ(s.GetApplicationTypeName(9), "Unknown Application Type");
  EXPECT_EQ(s.GetVendorText(), "Brenvale");
  EXPECT_EQ(s.ReadBytes(s.ToBytes()), 1);
}

TEST(SetupDataTest, VersionTextsNeverOverflow) {
  TempDir dir;
  SetupData s;
  s.SetVersion(8, {INT_MIN, INT_MIN, INT_MIN});
  EXPECT_EQ(s.GetAgentVersionText(), "-2147483648.-2147483648.-2147483648");
  s.SetVersion(1, {10, 0, 5});
  EXPECT_EQ(s.GetConsoleVersionText(), "10.0.05");
  EXPECT_EQ(s.VersionText(9), "0.0.00");
}

}  // namespace
