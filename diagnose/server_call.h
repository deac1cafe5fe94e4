// Which call is in progress and since when, and the watchdog beside the
// walk: while a call has not answered it says so now and then (which call,
// which tag, how long so far); once the call's limit has passed it reports
// it unanswered, with what opcdiag leaves on the server, and ends the
// process. Marking a call is a few atomic stores, nothing beside 100,000
// calls; ending one takes the report's lock, so that a call answering while
// the watchdog reports it waits.
#pragma once

#include <windows.h>

#include <string>

#include "browse.h"
#include "decisions.h"

// The call about to be made, for entry `tag` of the watched table (-1: none).
void CallStarted(const ServerCall &call, LONG tag = -1);
void CallEnded();
// The table whose names the watchdog's lines show; null for none.
void WatchTagNames(const TagNameTable *names);
// What the walk holds on the server now: its reference, the group, the
// items registered in it.
void Holding(bool server, bool group, LONG items);
// The outcome decided so far and its status, which stand when a later call
// the monitor does not make never answers.
void Decided(const std::wstring &subject, const std::wstring &verdict, int status);
// Starts the watchdog's thread; 1 when it runs.
int StartWatchdog();

// "tag 2 of 7, Int32.Fixed" for entry `tag` of `names`, the name shown.
std::wstring TagText(const TagNameTable &names, LONG tag);
