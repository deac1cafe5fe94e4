// Which call is in progress and since when, and the watchdog beside the
// walk: while a call has not answered it says so now and then (which call,
// which tag, how long so far), and once the call's limit has passed it
// reports it as unanswered, with what opcdiag leaves on the server, and
// ends the process. Marking a call is a few atomic stores, so that it costs
// nothing beside 100,000 calls; ending one takes the report's lock, so that
// a call answering while the watchdog reports it waits.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "browse.h"
#include "decisions.h"

// The call about to be made, for the tag at `tag` of the watched table, or
// -1 for none.
void CallStarted(const ServerCall &call, LONG tag = -1);
// No call in progress.
void CallEnded();

// The table whose names a waiting or unanswered call's line shows; null
// for none.
void WatchTagNames(const TagNameTable *names);
// What the walk holds on the server now: its reference, the group, and
// the items registered in it.
void Holding(bool server, bool group, LONG items);
// The outcome decided so far and its status, which a later call that never
// answers leaves standing if it is one the monitor does not make; `subject`
// is "the monitor" or "a monitor built for ...".
void Decided(const std::wstring &subject, const std::wstring &verdict, int status);

// Starts the watchdog's thread; 1 when it runs.
int StartWatchdog();

// "tag 2 of 7, Int32.Fixed" for entry `tag` of `names`, the name shown by
// the monitor's rule.
std::wstring TagText(const TagNameTable &names, LONG tag);
