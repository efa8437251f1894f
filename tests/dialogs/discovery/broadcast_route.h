// In a network of the test's own only the loopback interface exists, and the kernel refuses
// to send to 255.255.255.255 without a route for it. This adds the host route through "lo"
// so that a broadcast search reaches the agents of the test's network (and nothing else).
#pragma once

#include <arpa/inet.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/dialogs/harness/trem_fixture.h"

inline bool AddLoopbackBroadcastRoute() {
  if (!trem_harness::HarnessInPrivateNetwork()) return false;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  rtentry route{};
  auto* dst = reinterpret_cast<sockaddr_in*>(&route.rt_dst);
  dst->sin_family = AF_INET;
  dst->sin_addr.s_addr = INADDR_BROADCAST;
  auto* mask = reinterpret_cast<sockaddr_in*>(&route.rt_genmask);
  mask->sin_family = AF_INET;
  mask->sin_addr.s_addr = INADDR_BROADCAST;
  reinterpret_cast<sockaddr_in*>(&route.rt_gateway)->sin_family = AF_INET;
  route.rt_flags = RTF_UP | RTF_HOST;
  char dev[] = "lo";
  route.rt_dev = dev;
  const bool ok = ::ioctl(fd, SIOCADDRT, &route) == 0 || errno == EEXIST;
  ::close(fd);
  return ok;
}
