// Entry of the OPC DA console monitor. No arguments, no configuration: the
// server, the group and the screen layout are fixed at build time.
#include "lifecycle.h"
#include "polling.h"

int main() { return RunMonitor(PollItems); }
