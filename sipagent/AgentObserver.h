// Observers of the SIP agent: told after every change the agent makes or
// learns of, on the thread that made it (the library's event thread for
// events, the host's thread for the library start and file requests).
#pragma once

class CSipAgent;

class CAgentObserver {
 public:
  virtual void OnAgentChanged(CSipAgent &agent) = 0;

 protected:
  // Observers are not owned by the agent and never deleted through this base.
  ~CAgentObserver() = default;
};
