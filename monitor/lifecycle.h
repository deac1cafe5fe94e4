// The program's frame: COM, the connection, the browse and group stages,
// the release of the server.
#pragma once

#include "group.h"

// Runs the whole monitor with `stage` as what runs while the items are
// registered (the polling loop in the program). Returns the exit status,
// which is always 0.
int RunMonitor(ItemStage stage);
