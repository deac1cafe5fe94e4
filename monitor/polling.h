// The polling loop: every half second, a cleared console screen with one
// record per readable item, until ESC.
#pragma once

#include "browse.h"
#include "group.h"
#include "opcda.h"

#include <cstddef>

constexpr DWORD POLL_PERIOD_MS = 500;
constexpr int RECORDS_PER_LINE = 3;
constexpr int KEY_ESCAPE = 27;
// Longest a record is held back after its read before it is written, as
// far as the time the last read took foretells the next one.
constexpr DWORD RECORD_LATENCY_MS = 50;

// What the loop needs of the platform: the wait, the screen clearing, the
// keyboard, a stop request (Ctrl+C, Ctrl+Break, closing the window), the
// console device and a millisecond clock. Tests put their own in place so
// that no test waits real half seconds or needs a terminal.
struct PollingPlatform {
  void (*sleep)(DWORD milliseconds);
  void (*clearScreen)();
  int (*keyWaiting)();
  int (*readKey)();
  int (*stopRequested)();
  void (*write)(const wchar_t *text, size_t length);
  DWORD (*clock)();
};

// Sleep, "cls" through the command interpreter (the console device cleared
// directly when standard output is redirected), _kbhit, _getch, the console
// control handler's request, the console device and the performance counter.
extern const PollingPlatform CONSOLE_POLLING_PLATFORM;

// Runs the loop on the real console; returns once ESC was seen, or a stop
// request after the clear or between two reads.
void PollItems(IOPCItemMgt *itemMgt, const TagNameTable &names, const ItemHandleTable &handles);

void PollItemsOn(const PollingPlatform &platform, IOPCItemMgt *itemMgt, const TagNameTable &names,
                 const ItemHandleTable &handles);
