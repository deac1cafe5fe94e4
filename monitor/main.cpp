// Entry of the OPC DA console monitor. No arguments, no configuration: the
// server, the group and the screen layout are fixed at build time.
#include "lifecycle.h"
#include "polling.h"
#include "stop_request.h"

int main() {
  StartStopRequests();
  const int status = RunMonitor(PollItems);
  FinishStopRequests();
  return status;
}
