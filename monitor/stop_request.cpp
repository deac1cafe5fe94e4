// The console control handler and the request it records, and the ENTER
// prompt that a stop ends. The handler never touches COM; it shares with the
// monitor's thread only the flag below and the events that say a stop came
// and the teardown is done. The prompt's read runs on a thread that does
// nothing else, so that no kind of standard input can hold a stop up.
#include "stop_request.h"

#include <atomic>

namespace {

std::atomic<int> g_stopRequested{0};
// Set by the handler (a waitable twin of g_stopRequested) and by the end of
// the teardown.
HANDLE g_stopArrived = nullptr;
HANDLE g_teardownDone = nullptr;

int WaitForTeardown(DWORD milliseconds) {
  if (g_teardownDone == nullptr) return 0;
  return WaitForSingleObject(g_teardownDone, milliseconds) == WAIT_OBJECT_0 ? 1 : 0;
}

BOOL WINAPI ConsoleControlHandler(DWORD event) { return HandleStopEvent(event, CONSOLE_STOP_PLATFORM); }

// The prompt's readers, each run on a thread of its own; only whether
// anything came counts. The buffer is the reader's own: a read left behind
// by a stop may still end after the prompt has returned. They touch neither
// COM nor the C runtime's streams, whose locks the exit path takes.
constexpr DWORD PROMPT_READ_BYTES = 256;

// A pipe, a file or a console in another mode: one read, one line's worth;
// what follows may be meant for another reader, and a pipe is not read on
// to its end.
DWORD WINAPI ReadPromptOnce(void *input) {
  char line[PROMPT_READ_BYTES];
  DWORD got = 0;
  return ReadFile(static_cast<HANDLE>(input), line, sizeof line, &got, nullptr) && got > 0 ? 1 : 0;
}

// A console in line mode hands out a line longer than the read a piece at a
// time and keeps the rest as pending input, which the shell would run as a
// command once the monitor has ended; a multibyte input code page gets
// there with far fewer characters. So the pieces are read up to the "\n"
// that ends the line, a byte that is never part of a multibyte character
// in any console code page. ERROR_MORE_DATA is how a pipe in message mode
// hands out part of a message, as a console does part of a line.
DWORD WINAPI ReadPromptConsoleLine(void *input) {
  char piece[PROMPT_READ_BYTES];
  DWORD came = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(input), piece, sizeof piece, &got, nullptr) &&
        GetLastError() != ERROR_MORE_DATA) {
      return came;
    }
    if (got == 0) return came;  // the end of input, or a Ctrl+C on Windows
    came = 1;
    if (piece[got - 1] == '\n') return came;
  }
}

}  // namespace

const StopHandlerPlatform CONSOLE_STOP_PLATFORM = {WaitForTeardown};

BOOL HandleStopEvent(DWORD event, const StopHandlerPlatform &platform) {
  const bool processEnds = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (!processEnds && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;

  const int earlier = g_stopRequested.exchange(1);
  if (earlier != 0 && !processEnds) return FALSE;
  if (g_stopArrived != nullptr) (void)SetEvent(g_stopArrived);

  if (processEnds) (void)platform.waitForTeardown(STOP_TEARDOWN_WAIT_MS);
  return TRUE;
}

void StartStopRequests() {
  if (g_stopArrived == nullptr) g_stopArrived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_teardownDone == nullptr) g_teardownDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  (void)SetConsoleCtrlHandler(ConsoleControlHandler, TRUE);
}

int StopRequested() { return g_stopRequested; }

int WaitForStopRequest(DWORD milliseconds) {
  if (g_stopArrived == nullptr) return StopRequested();
  return WaitForSingleObject(g_stopArrived, milliseconds) == WAIT_OBJECT_0 ? 1 : 0;
}

int InputIsLineConsole(HANDLE input) {
  const DWORD lines = ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT;
  DWORD mode = 0;
  return GetConsoleMode(input, &mode) && (mode & lines) == lines ? 1 : 0;
}

int AwaitPromptLine(HANDLE input, LineConsoleCheck isLineConsole) {
  if (StopRequested()) return 0;
  DWORD lineCame = 0;
  LPTHREAD_START_ROUTINE read = isLineConsole(input) ? ReadPromptConsoleLine : ReadPromptOnce;
  HANDLE reader = CreateThread(nullptr, 0, read, input, 0, nullptr);
  if (reader == nullptr) {
    // Without a thread of its own the read cannot be left behind: ENTER
    // still starts the group stage, a stop waits for it.
    lineCame = read(input);
  } else {
    HANDLE ends[2] = {reader, g_stopArrived};
    if (WaitForMultipleObjects(g_stopArrived != nullptr ? 2 : 1, ends, FALSE, INFINITE) == WAIT_OBJECT_0) {
      (void)GetExitCodeThread(reader, &lineCame);
    }
    CloseHandle(reader);
  }
  // An end of input may be the console's answer to a Ctrl+C whose handler
  // has not run yet; the group stage must not start before it had its
  // chance. A line costs no wait, nor does a stop that is there.
  if (lineCame == 0) (void)WaitForStopRequest(STOP_ARRIVAL_WAIT_MS);
  return StopRequested() ? 0 : 1;
}

void FinishStopRequests() {
  if (g_teardownDone != nullptr) (void)SetEvent(g_teardownDone);
}

void ResetStopRequests() {
  g_stopRequested = 0;
  if (g_stopArrived != nullptr) (void)ResetEvent(g_stopArrived);
  if (g_teardownDone != nullptr) (void)ResetEvent(g_teardownDone);
}
