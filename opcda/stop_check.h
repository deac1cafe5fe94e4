// The question the long operations ask between two server calls: whether
// the run is to stop (the monitor's stop request in the program, a stand-in
// in tests). 1 means end here, as cleanly as after a failure.
#pragma once

typedef int (*StopCheck)();

// Never asks to stop: what an operation uses when given no check.
inline int NeverStop() { return 0; }
