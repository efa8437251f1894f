// "cfsubnet.dat": whole lines in, newest first, the list out as it stands.
#include "dialogs/discovery/subnet_file.h"

#include <sys/stat.h>

#include "core/discovery/discover.h"
#include "tests/dialogs/discovery/discovery_fixture.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

class SubnetFileTest : public DiscoveryTest {};

TEST_F(SubnetFileTest, ReadsWholeLinesNewestFirstAndWritesTheListBack) {
  struct Case {
    std::string file;
    std::vector<std::string> list;
    const char* written;
  };
  const std::string longLine(100, '7');
  const std::vector<Case> cases = {
      {"192.168.1.255", {"192.168.1.255"}, "192.168.1.255\n"},
      {"10.0.0.255\n192.168.1.255\n", {"192.168.1.255", "10.0.0.255"}, "192.168.1.255\n10.0.0.255\n"},
      {"10.0.0.255\r\n\n172.16.255.255", {"172.16.255.255", "10.0.0.255"}, "172.16.255.255\n10.0.0.255\n"},
      {"10.0.0.255\n10.0.0.255\n", {"10.0.0.255"}, "10.0.0.255\n"},
      {"", {}, ""},
      // A zero byte ends a subnet's text; a line that is empty then is no subnet.
      {std::string("10.0.0.255\0junk\r\n\0\0.1\n", 22), {"10.0.0.255"}, "10.0.0.255\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    testing_support::WriteFileText(kSubnetFileName, c.file);
    KT_Discover d;
    EXPECT_EQ(ReadSubnetFile(d), 0);
    EXPECT_EQ(Subnets(d), c.list);
    EXPECT_EQ(WriteSubnetFile(d), 1);
    EXPECT_EQ(testing_support::ReadFileText(kSubnetFileName), c.written);
  }
  // A line longer than 80 characters is read as several; a missing file is no error.
  testing_support::WriteFileText(kSubnetFileName, longLine + "\n");
  KT_Discover split;
  ReadSubnetFile(split);
  EXPECT_EQ(Subnets(split), (std::vector<std::string>{longLine.substr(80), longLine.substr(0, 80)}));
  KT_Discover none;
  EXPECT_EQ(ReadSubnetFile(none, "no-such-file.dat"), 0);
  EXPECT_EQ(none.GetSubnetCount(), 0);
  // Nor is something that is no regular file, which is never waited on.
  ASSERT_EQ(::mkfifo("fifo.dat", 0600), 0);
  EXPECT_EQ(ReadSubnetFile(none, "fifo.dat"), 0);
  EXPECT_EQ(none.GetSubnetCount(), 0);
  // A file that cannot be created is reported.
  EXPECT_EQ(WriteSubnetFile(split, "no-such-dir/cfsubnet.dat"), 0);
}

}  // namespace
