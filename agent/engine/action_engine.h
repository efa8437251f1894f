// The action engine as the agent's monitor loop and system-request handler use it: the
// configured actions on alarm changes, the decision to shut down, and the shutdown sequence.
// The engine (KT_Action) is attached to the agent with KT_Agent::SetActionEngine.
#pragma once

// What the monitor loop asks of the action engine.
class AgentActionEngine {
 public:
  virtual ~AgentActionEngine() = default;
  // One pass over the alarm changes (the configured actions).
  virtual int TakeAction() = 0;
  // 0 no shutdown, 1 the outage lasted long enough, 2 low battery.
  virtual int IsShutdownRequired() = 0;
  // Reason 0 prolonged outage, 1 low battery, 2 scheduled, 3 remote, 4 without UPS off.
  virtual int ShutdownSequence(int reason) = 0;
};
