// The program and the shared library it links must share one SCP object, one trace console, one
// clock and one peer version: a second copy in the library would let a console's dialogs read an
// image the communication worker never fills.
#include <gtest/gtest.h>

#include "core/base/ktdiag.h"
#include "core/base/peer_version.h"
#include "core/scp/scp.h"
#include "platform/clock.h"
#include "tests/core/one_copy/probe/one_copy_probe.h"
#include "tests/support/test_support.h"

TEST(OneCopyPerProcess, ProgramAndSharedLibrarySeeTheSameObjects) {
  ProbeView seen = ProbeLook();
  EXPECT_EQ(seen.scp, &GetProcessScp());
  EXPECT_EQ(seen.diag, &Diag());

  // A clock installed by the program is the library's clock too.
  testing_support::ScopedManualClock clock(123456789);
  seen = ProbeLook();
  EXPECT_EQ(seen.clock, &platform::GetClock());
  EXPECT_EQ(seen.now, 123456789);

  // The peer version set inside the library is the program's.
  ProbeSetPeerVersion(4, 1);
  PeerSoftwareVersion peer = GetPeerSoftwareVersion();
  EXPECT_EQ(peer.second, 4);
  EXPECT_EQ(peer.third, 1);
  ResetPeerSoftwareVersion();
  seen = ProbeLook();
  EXPECT_EQ(seen.peer_second, 0);
  EXPECT_EQ(seen.peer_third, 37);
}
