// The console control handler and the request it records. The handler never
// touches COM; it shares with the monitor's thread only the flags below, the
// prompt's thread handle and the events that say a stop came and the
// teardown is done.
#include "stop_request.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<int> g_stopRequested{0};
// Set by the handler (a waitable twin of g_stopRequested) and by the end of
// the teardown.
HANDLE g_stopArrived = nullptr;
HANDLE g_teardownDone = nullptr;

// Taken by the handler around ending the prompt's read and by the monitor's
// thread when the prompt begins and ends: a request either ends the read or
// is seen by the prompt, and nothing is ended after the prompt.
SRWLOCK g_promptLock = SRWLOCK_INIT;
int g_promptWaiting = 0;
int g_promptReadEnded = 0;
// The monitor's thread while it waits at the prompt, for cancelling its read.
HANDLE g_promptThread = nullptr;
std::atomic<int> g_enterInjected{0};

HANDLE OpenConsoleInput() {
  return CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

// What the console itself would put in for the ENTER key: a key-down and a
// key-up of VK_RETURN with a carriage return. A line read of the console
// does not end on Ctrl+C everywhere (Wine reads on); this ends it, and it
// is taken out again at the end if unread.
void CompletePromptLine() {
  HANDLE input = OpenConsoleInput();
  if (input == INVALID_HANDLE_VALUE) return;
  INPUT_RECORD keys[2] = {};
  for (int i = 0; i < 2; ++i) {
    keys[i].EventType = KEY_EVENT;
    keys[i].Event.KeyEvent.bKeyDown = i == 0 ? TRUE : FALSE;
    keys[i].Event.KeyEvent.wRepeatCount = 1;
    keys[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
    keys[i].Event.KeyEvent.wVirtualScanCode = 0x1C;  // the Enter key's
    keys[i].Event.KeyEvent.uChar.UnicodeChar = L'\r';
  }
  DWORD written = 0;
  (void)WriteConsoleInputW(input, keys, 2, &written);
  CloseHandle(input);
  g_enterInjected = 1;
}

// Standard input that is no console (a pipe) has no key to put in: its
// blocked read is cancelled instead, which fails it, and getc gives EOF.
// Nothing to cancel (ERROR_NOT_FOUND) means the read has not begun yet.
int EndPromptReadOnConsoleOrPipe() {
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) {
    CompletePromptLine();
    return 1;
  }
  return g_promptThread != nullptr && CancelSynchronousIo(g_promptThread) ? 1 : 0;
}

void PauseHandler(DWORD milliseconds) { Sleep(milliseconds); }

int WaitForTeardown(DWORD milliseconds) {
  if (g_teardownDone == nullptr) return 0;
  return WaitForSingleObject(g_teardownDone, milliseconds) == WAIT_OBJECT_0 ? 1 : 0;
}

// Ends the prompt's read once, if one is waiting. A read about to begin
// cannot be cancelled yet: it is tried again until it ends, the prompt ends
// or the retry limit is reached.
void EndPromptRead(const StopHandlerPlatform &platform) {
  for (DWORD waited = 0;; waited += PROMPT_READ_RETRY_MS) {
    AcquireSRWLockExclusive(&g_promptLock);
    const bool pending = g_promptWaiting != 0 && g_promptReadEnded == 0;
    if (pending && platform.endPromptRead() != 0) g_promptReadEnded = 1;
    const bool done = !pending || g_promptReadEnded != 0;
    ReleaseSRWLockExclusive(&g_promptLock);
    if (done || waited >= PROMPT_READ_RETRY_LIMIT_MS) return;
    platform.pause(PROMPT_READ_RETRY_MS);
  }
}

BOOL WINAPI ConsoleControlHandler(DWORD event) { return HandleStopEvent(event, CONSOLE_STOP_PLATFORM); }

}  // namespace

const StopHandlerPlatform CONSOLE_STOP_PLATFORM = {EndPromptReadOnConsoleOrPipe, PauseHandler, WaitForTeardown};

BOOL HandleStopEvent(DWORD event, const StopHandlerPlatform &platform) {
  const bool processEnds = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (!processEnds && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;

  const int earlier = g_stopRequested.exchange(1);
  if (earlier != 0 && !processEnds) return FALSE;
  if (g_stopArrived != nullptr) (void)SetEvent(g_stopArrived);
  EndPromptRead(platform);

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

int AwaitPromptLine(int (*readCharacter)()) {
  if (BeginPromptWait()) {
    // An end of input may be the console's answer to a Ctrl+C whose handler
    // has not run yet; the group stage must not start before it had its
    // chance. A character costs no wait.
    if (readCharacter() == EOF) (void)WaitForStopRequest(STOP_ARRIVAL_WAIT_MS);
  }
  EndPromptWait();
  return StopRequested() ? 0 : 1;
}

int BeginPromptWait() {
  // Only the thread that reads can have its read cancelled.
  HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
  AcquireSRWLockExclusive(&g_promptLock);
  g_promptWaiting = 1;
  g_promptReadEnded = 0;
  HANDLE previous = g_promptThread;
  g_promptThread = thread;
  ReleaseSRWLockExclusive(&g_promptLock);
  if (previous != nullptr) CloseHandle(previous);
  // The handler saw no prompt if it came first; then it is seen here.
  return g_stopRequested == 0 ? 1 : 0;
}

void EndPromptWait() {
  AcquireSRWLockExclusive(&g_promptLock);
  g_promptWaiting = 0;
  HANDLE thread = g_promptThread;
  g_promptThread = nullptr;
  ReleaseSRWLockExclusive(&g_promptLock);
  if (thread != nullptr) CloseHandle(thread);
}

void FinishStopRequests() {
  EndPromptWait();
  // Where the platform ended the read itself, the ENTER is still there and
  // would reach whatever reads the console next (the shell).
  if (g_enterInjected != 0) {
    HANDLE input = OpenConsoleInput();
    if (input != INVALID_HANDLE_VALUE) {
      (void)FlushConsoleInputBuffer(input);
      CloseHandle(input);
    }
  }
  if (g_teardownDone != nullptr) (void)SetEvent(g_teardownDone);
}

void ResetStopRequests() {
  EndPromptWait();
  AcquireSRWLockExclusive(&g_promptLock);
  g_promptReadEnded = 0;
  ReleaseSRWLockExclusive(&g_promptLock);
  g_stopRequested = 0;
  g_enterInjected = 0;
  if (g_stopArrived != nullptr) (void)ResetEvent(g_stopArrived);
  if (g_teardownDone != nullptr) (void)ResetEvent(g_teardownDone);
}
