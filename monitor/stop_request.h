// Ctrl+C, Ctrl+Break and closing the console window as a request to stop.
// The console control handler runs on a thread the system creates: it only
// records the request (and completes a pending ENTER prompt); the monitor's
// one thread takes the request where it would take ESC and runs the usual
// teardown, so every server call stays on that thread.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// After a close, logoff or shutdown event the system ends the process once
// the handler returns, or after about 5 s; the handler waits this long at
// most for the teardown.
constexpr DWORD STOP_TEARDOWN_WAIT_MS = 4000;

// What the handler needs of the platform; tests put their own in place.
struct StopHandlerPlatform {
  // Puts an ENTER key press into the console input, so that a line read
  // waiting at the prompt returns.
  void (*completePromptLine)();
  // Waits at most `milliseconds` for FinishStopRequests; 1 when it came.
  int (*waitForTeardown)(DWORD milliseconds);
};

extern const StopHandlerPlatform CONSOLE_STOP_PLATFORM;

// The handler's work for one console control event. Ctrl+C and Ctrl+Break
// are recorded and taken (TRUE); close, logoff and shutdown are recorded and
// taken once the teardown is done or the wait ran out; any other event is
// left to the next handler (FALSE).
BOOL HandleStopEvent(DWORD event, const StopHandlerPlatform &platform);

// Installs the handler on the real console.
void StartStopRequests();

// Whether a stop was requested; the monitor's thread asks where it looks at
// the keyboard, after the browse and after the ENTER prompt.
int StopRequested();

// Around the ENTER prompt's read: only in between does the handler complete
// the line. Begin gives 0 when a stop came before, with no line completed:
// the read must not start. After End the handler puts nothing more into the
// input.
int BeginPromptWait();
void EndPromptWait();

// The teardown is done: takes out of the console input what the handler
// put there and was not read, then lets a waiting handler return.
void FinishStopRequests();

// Forgets a request and the state around it; a run starts that way.
void ResetStopRequests();
