// Ctrl+C, Ctrl+Break and closing the console window as a request to stop.
// The console control handler runs on a thread the system creates: it only
// records the request (and ends a pending ENTER prompt's read); the
// monitor's one thread takes the request at the next point where the run
// can end cleanly (between two names of the browse, at the prompt, between
// two registrations, between two reads) and runs the usual teardown, so
// every server call stays on that thread.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// After a close, logoff or shutdown event the system ends the process once
// the handler returns, or after about 5 s; the handler waits this long at
// most for the teardown.
constexpr DWORD STOP_TEARDOWN_WAIT_MS = 4000;

// How long an end of input at the prompt waits for a stop on its way: on
// Windows a line read of the console returns at once on Ctrl+C, with no
// data, before the system has run the handler.
constexpr DWORD STOP_ARRIVAL_WAIT_MS = 300;

// A prompt read found not yet begun is tried again this often, for this
// long at most (it begins a moment after the prompt says so).
constexpr DWORD PROMPT_READ_RETRY_MS = 20;
constexpr DWORD PROMPT_READ_RETRY_LIMIT_MS = 1000;

// What the handler needs of the platform; tests put their own in place.
struct StopHandlerPlatform {
  // Ends the prompt's read of standard input on the monitor's thread: a
  // console read gets an ENTER key press, any other read (a pipe) is
  // cancelled. 1 when the read ends, 0 when there was none to end yet.
  int (*endPromptRead)();
  void (*pause)(DWORD milliseconds);
  // Waits at most `milliseconds` for FinishStopRequests; 1 when it came.
  int (*waitForTeardown)(DWORD milliseconds);
};

extern const StopHandlerPlatform CONSOLE_STOP_PLATFORM;

// The handler's work for one console control event. Ctrl+C and Ctrl+Break
// are recorded and taken (TRUE); close, logoff and shutdown are recorded and
// taken once the teardown is done or the wait ran out; any other event is
// left to the next handler (FALSE). So is a Ctrl+C or Ctrl+Break that comes
// while an earlier stop is being honoured: the system's default then ends
// the process at once, so that a call that hangs never holds the user.
BOOL HandleStopEvent(DWORD event, const StopHandlerPlatform &platform);

// Installs the handler on the real console.
void StartStopRequests();

// Whether a stop was requested.
int StopRequested();

// Waits at most `milliseconds` for a stop request; 1 when there is one.
int WaitForStopRequest(DWORD milliseconds);

// The ENTER prompt: reads one character with `readCharacter` (getc on
// standard input in the program) unless a stop came first. 1 when the run
// goes on to the group stage, 0 when a stop came before, during or right
// with the read.
int AwaitPromptLine(int (*readCharacter)());

// Around the prompt's read: only in between does the handler end the read.
// Begin gives 0 when a stop came before, with no read ended: the read must
// not start. After End the handler ends no read.
int BeginPromptWait();
void EndPromptWait();

// The teardown is done: takes out of the console input what the handler
// put there and was not read, then lets a waiting handler return.
void FinishStopRequests();

// Forgets a request and the state around it; a run starts that way.
void ResetStopRequests();
