#include "platform/modem_sideband.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "platform/serial_line.h"
#include "tests/support/test_support.h"

using platform::ModemSideband;
using testing_support::TempDir;

namespace {

TEST(ModemSideband, NamedAfterTheCanonicalDevicePath) {
  EXPECT_EQ(ModemSideband::RegionName("/dev/pts/7"), "/vigil-modem-dev-pts-7");
  TempDir dir;
  testing_support::WriteFileText(dir.File("ttyS9"), "");
  std::filesystem::create_symlink(dir.File("ttyS9"), dir.File("ups"));
  EXPECT_EQ(ModemSideband::RegionName(dir.File("ups")), ModemSideband::RegionName(dir.File("ttyS9")));

  int error = 0;
  auto device = ModemSideband::Create(dir.File("ttyS9"), &error);
  ASSERT_TRUE(device) << error;
  auto port = ModemSideband::Attach(dir.File("ups"));  // found through the link
  ASSERT_TRUE(port);
  device->SetDeviceLines(platform::kLineCts | platform::kLineDtr);
  EXPECT_EQ(port->DeviceLines(), platform::kLineCts);  // a device cannot drive host lines
  port->SetHostLines(platform::kLineRts | platform::kLineDcd);
  EXPECT_EQ(device->HostLines(), platform::kLineRts);
}

TEST(ModemSideband, RegionOfADeadDeviceIsIgnoredAndReplaced) {
  TempDir dir;
  const std::string path = dir.File("ttyUSB7");
  testing_support::WriteFileText(path, "");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int e = 0;
    // Dies without removing its region, as a crashed simulator would.
    ModemSideband* sb = ModemSideband::Create(path, &e).release();
    ::_exit(sb != nullptr ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(ModemSideband::Attach(path));

  int error = 0;
  auto fresh = ModemSideband::Create(path, &error);
  ASSERT_TRUE(fresh) << error;
  EXPECT_TRUE(ModemSideband::Attach(path));
  fresh.reset();
  EXPECT_FALSE(ModemSideband::Attach(path));  // removed with its owner
}

TEST(ModemSideband, LineChangesWaitForTheDeviceToReact) {
  TempDir dir;
  const std::string path = dir.File("ttyS3");
  testing_support::WriteFileText(path, "");
  int error = 0;
  auto device = ModemSideband::Create(path, &error);
  ASSERT_TRUE(device);
  auto port = ModemSideband::Attach(path);
  ASSERT_TRUE(port);
  EXPECT_TRUE(port->WaitDeviceCaughtUp(0));  // nothing pending

  // A device that loops RTS to CTS, reacting on its own thread.
  uint32_t seen = device->HostChangeCount();
  std::thread loop([&] {
    for (int i = 0; i < 2;) {
      const uint32_t now = device->WaitHostChange(seen, 5000);
      if (now == seen) continue;
      seen = now;
      device->SetDeviceLines((device->HostLines() & platform::kLineRts) ? platform::kLineCts : 0);
      device->Acknowledge(now);
      ++i;
    }
  });
  port->SetHostLines(platform::kLineRts);
  EXPECT_TRUE(port->WaitDeviceCaughtUp(5000));
  EXPECT_EQ(port->DeviceLines(), platform::kLineCts);
  port->SetHostLines(0);
  EXPECT_TRUE(port->WaitDeviceCaughtUp(5000));
  EXPECT_EQ(port->DeviceLines(), 0u);
  loop.join();

  // Nobody reacts any more: the wait gives up.
  port->SetHostLines(platform::kLineDtr);
  EXPECT_FALSE(port->WaitDeviceCaughtUp(20));
  device.reset();
  EXPECT_FALSE(port->DeviceAlive());
  EXPECT_FALSE(port->WaitDeviceCaughtUp(5000));  // at once: the device side is gone
}

}  // namespace
