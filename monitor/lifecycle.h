// The program's frame: COM, the connection, the browse and group stages,
// the release of the server.
#pragma once

#include "group.h"

// What the frame needs of the console besides its output: the ENTER
// prompt's wait and whether a stop was requested. Tests put their own in
// place.
struct FramePlatform {
  void (*awaitEnter)();
  int (*stopRequested)();
};

// One character from standard input, completed by the console control
// handler on a stop request; the handler's request.
extern const FramePlatform CONSOLE_FRAME_PLATFORM;

// Runs the whole monitor with `stage` as what runs while the items are
// registered (the polling loop in the program). Returns the exit status,
// which is always 0.
int RunMonitor(ItemStage stage);

int RunMonitorOn(const FramePlatform &platform, ItemStage stage);
