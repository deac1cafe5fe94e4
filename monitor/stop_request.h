// Ctrl+C, Ctrl+Break and closing the console window as a request to stop.
// The console control handler runs on a thread the system creates: it only
// records the request; the monitor's one thread takes it at the next point
// where the run can end cleanly (between two names of the browse, at the
// prompt, between two registrations, between two reads) and runs the usual
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

// How long an end of input at the prompt waits for a stop on its way: on
// Windows a line read of the console returns at once on Ctrl+C, with no
// data, before the system has run the handler.
constexpr DWORD STOP_ARRIVAL_WAIT_MS = 300;

// What the handler needs of the platform; tests put their own in place.
struct StopHandlerPlatform {
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

// Whether the prompt's input is a console that reads lines: its read hands
// out a line longer than the read a piece at a time and keeps the rest for
// the next reader of that console (the shell, once the monitor has ended),
// so the prompt reads on to the line's end. Tests put in their own, so that
// a pipe that hands out one line at a time stands in for a console.
typedef int (*LineConsoleCheck)(HANDLE input);

// 1 when `input` is a console in line mode with its input processed, the
// mode a console starts in, where every line ends with "\r\n". In another
// mode a line may end with a bare CR or a read may be no line at all.
int InputIsLineConsole(HANDLE input);

// The ENTER prompt: waits for a line from `input` (standard input in the
// program: a console, a pipe, a file) or a stop, whichever comes first.
// The line is read on a thread of its own; a stop leaves that read behind,
// to end with the process. A line console's line is read whole, whatever
// its length; a pipe, a file or another console gets one read, one line's
// worth, and the rest of the input is left alone. 1 when the run goes on to the group stage, 0 when a
// stop came before, during or right with the read.
int AwaitPromptLine(HANDLE input, LineConsoleCheck isLineConsole = InputIsLineConsole);

// The teardown is done: lets a waiting handler return.
void FinishStopRequests();

// Forgets a request; a run starts that way.
void ResetStopRequests();
