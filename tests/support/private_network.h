// Namespaces of the test's own: a network and mounts.
//
// A network of the test's own: the calling test process moves into a new network namespace
// whose loopback interface (all of 127.0.0.0/8) is up, so that agents started by the test can
// bind UDP port 7010 on 127.0.0.1, 127.0.0.2, ... without meeting any other test or program
// on the machine. Children started afterwards share it. Call it first in the test, before any
// thread is started. An ordinary user gets it inside a user namespace of its own, keeping its
// user and group ids.
#pragma once

#include <string>

namespace testing_support {

// True when the process is now in a network of its own; false with the reason in `error`
// (for instance when the right to create namespaces is missing).
bool EnterPrivateNetwork(std::string& error);
// Whether EnterPrivateNetwork succeeded in this process.
bool InPrivateNetwork();

// Mounts of the test's own: the calling thread moves into a new mount namespace (in which
// nothing propagates to or from the machine's), inside the user namespace of the private
// network when it made one, else in one of its own for an ordinary user. Children started
// from the thread afterwards share it. Call it first in the test, as for the network. False
// with the reason in `error`.
bool EnterPrivateMounts(std::string& error);

// A small disk for a test: a tmpfs of `bytes` bytes mounted over the directory `dir` (which
// then looks empty), in mounts of the test's own (EnterPrivateMounts); unmounted again when
// the object goes. The test fills it, frees it, or makes it read-only and writable again.
class SmallDisk {
 public:
  SmallDisk(const std::string& dir, size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool ok() const { return mounted_; }
  const std::string& error() const { return error_; }
  // Writes the file "filler" until the disk takes no more byte; true when it is full.
  bool Fill();
  // Removes the filler.
  bool Free();
  bool SetReadOnly(bool readOnly);

 private:
  std::string dir_;
  std::string error_;
  bool mounted_ = false;
};

// A name server that never answers, for this process and the children it starts afterwards
// (an outage often takes the name server down too). In the private network (entered first)
// the process takes mounts of its own (EnterPrivateMounts), in which /etc/resolv.conf names 127.0.0.1 -- where a UDP
// socket on port 53 takes every query and answers none -- and /etc/nsswitch.conf looks host
// names up in /etc/hosts, then there. Call it before any thread is started. False with the
// reason in `error`.
bool UseSilentNameServer(std::string& error);
// The queries the silent name server has taken so far.
int SilentNameServerQueries();

}  // namespace testing_support
