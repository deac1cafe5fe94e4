// Which server call is in progress and since when, and the watchdog that
// ends the run when one has not returned within CALL_LIMIT_MS: the monitor
// would hang there. Marking a call is a few atomic stores and the tick
// count, nothing more, so that it costs nothing beside 100,000 calls.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "browse.h"

constexpr ULONGLONG CALL_LIMIT_MS = 10000;

// A kind of server call: the report's stage, the call's name, and whether
// the monitor makes it too (a hang there is the monitor's) or only the
// report does, to tell causes apart.
struct ServerCall {
  const char *stage;
  const wchar_t *name;
  bool monitorMakes;
};

// The call about to be made, for the tag at `tag` of the watched table, or
// -1 for none.
void CallStarted(const ServerCall &call, LONG tag = -1);
// No server call in progress.
void CallEnded();

// The table whose names a hung call's report line shows; null for none.
void WatchTagNames(const TagNameTable *names);

// Starts the watchdog's thread. On a hung call it prints the report line
// and the verdict, then ends the process with status 1, without waiting for
// the call. 1 when it runs.
int StartWatchdog();

// "tag 2 of 7, Int32.Fixed" for entry `tag` of `names`, the name shown by
// the monitor's rule.
std::wstring TagText(const TagNameTable &names, LONG tag);
