// Host-name lookups with a bounded wait: a name server that does not answer holds the caller
// no longer than its wait (or its stop flag), one lookup of a name runs at a time, and the
// answer of a lookup that outlived its wait serves the next call.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "platform/name_resolver.h"
#include "tests/support/held_resolver.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TEST(NameLookup, AWaitIsBoundedAndTheLateAnswerServesTheNextCall) {
  platform::ForgetLookups();
  testing_support::HeldResolver resolver("slow.test");
  uint32_t address = 0;

  // No answer within the wait; a second caller joins the running lookup instead of another.
  auto start = Clock::now();
  EXPECT_EQ(platform::AddressWithin("slow.test", address, 200), platform::LookupAnswer::kNoAnswerYet);
  EXPECT_GE(SecondsSince(start), 0.19);
  EXPECT_LT(SecondsSince(start), 5.0);  // did not hang
  EXPECT_EQ(platform::AddressWithin("slow.test", address, 50), platform::LookupAnswer::kNoAnswerYet);
  // A stop flag ends a long wait at once.
  const std::atomic<bool> stop{true};
  start = Clock::now();
  EXPECT_EQ(platform::AddressWithin("slow.test", address, 60000, &stop), platform::LookupAnswer::kNoAnswerYet);
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(resolver.Calls(), 1);

  // The name server answers late: the waiting caller has it, and so has the next one at once.
  resolver.Release();
  ASSERT_EQ(platform::AddressWithin("slow.test", address, 10000), platform::LookupAnswer::kFound);
  EXPECT_EQ(address, htonl(INADDR_LOOPBACK));
  address = 0;
  EXPECT_EQ(platform::AddressWithin("slow.test", address, 0), platform::LookupAnswer::kFound);
  EXPECT_EQ(address, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(resolver.Calls(), 1);

  // Numeric addresses need no lookup; unknown names are asked again each time; bad names never.
  EXPECT_EQ(platform::AddressWithin("10.1.2.3", address, 0), platform::LookupAnswer::kFound);
  EXPECT_EQ(address, inet_addr("10.1.2.3"));
  EXPECT_EQ(resolver.Calls(), 1);
  EXPECT_EQ(platform::AddressWithin("nowhere.invalid", address, 10000), platform::LookupAnswer::kUnknown);
  EXPECT_EQ(platform::AddressWithin("nowhere.invalid", address, 10000), platform::LookupAnswer::kUnknown);
  EXPECT_EQ(resolver.Calls(), 3);
  for (const std::string& bad : {std::string(), std::string(300, 'a'), std::string("a\0b", 3)}) {
    EXPECT_EQ(platform::AddressWithin(bad, address, 10000), platform::LookupAnswer::kUnknown);
  }
  EXPECT_EQ(resolver.Calls(), 3);
  platform::ForgetLookups();
}

}  // namespace
