// Named objects of a program that is no test (a bench, a fuzz target) under a prefix of its
// own, away from those of an agent on this computer (the trace's mapping, the objects' lock
// file), and their files removed when the program exits.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/named_object.h"

namespace testing_support {

// The prefix: the tag and the process id, ended by a '.' so that no other run's prefix begins
// with it. Set for this process by UseOwnNamePrefix.
inline std::string& OwnNamePrefix() {
  static std::string prefix;
  return prefix;
}

// Removes every file in /dev/shm under the own prefix, the prefix's lock file with them:
// nothing but this process uses it.
inline void RemoveOwnNamedObjects() {
  if (OwnNamePrefix().empty()) return;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
    if (entry.path().filename().string().rfind(OwnNamePrefix(), 0) == 0) {
      std::filesystem::remove(entry.path(), ec);
    }
  }
}

// Puts the process's named objects under "TAG<pid>." and has their files removed at exit.
// Called once, before the first object is made.
inline void UseOwnNamePrefix(const std::string& tag) {
  OwnNamePrefix() = tag + std::to_string(::getpid()) + ".";
  ::setenv(platform::kNamePrefixVariable, OwnNamePrefix().c_str(), 1);
  std::atexit(RemoveOwnNamedObjects);
}

}  // namespace testing_support
