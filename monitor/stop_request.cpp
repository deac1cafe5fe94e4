// The console control handler and the request it records. The handler never
// touches COM; it shares with the monitor's thread only the flags below and
// the event that says the teardown is done.
#include "stop_request.h"

#include <atomic>

namespace {

std::atomic<int> g_stopRequested{0};
std::atomic<int> g_promptWaiting{0};
std::atomic<int> g_enterInjected{0};
// Taken by the handler around the prompt line and by the monitor's thread
// when the prompt begins and ends: a request either completes the line or is
// seen by the prompt, and no ENTER arrives after the prompt.
SRWLOCK g_promptLock = SRWLOCK_INIT;
HANDLE g_teardownDone = nullptr;

HANDLE OpenConsoleInput() {
  return CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

// What the console itself would put in for the ENTER key: a key-down and a
// key-up of VK_RETURN with a carriage return.
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
}

int WaitForTeardown(DWORD milliseconds) {
  if (g_teardownDone == nullptr) return 0;
  return WaitForSingleObject(g_teardownDone, milliseconds) == WAIT_OBJECT_0 ? 1 : 0;
}

void SetPromptWaiting(int waiting) {
  AcquireSRWLockExclusive(&g_promptLock);
  g_promptWaiting = waiting;
  ReleaseSRWLockExclusive(&g_promptLock);
}

BOOL WINAPI ConsoleControlHandler(DWORD event) { return HandleStopEvent(event, CONSOLE_STOP_PLATFORM); }

}  // namespace

const StopHandlerPlatform CONSOLE_STOP_PLATFORM = {CompletePromptLine, WaitForTeardown};

BOOL HandleStopEvent(DWORD event, const StopHandlerPlatform &platform) {
  const bool processEnds = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (!processEnds && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;

  g_stopRequested = 1;
  AcquireSRWLockExclusive(&g_promptLock);
  // A line read at the prompt does not end on Ctrl+C everywhere (Wine reads
  // on); one ENTER is enough, and it is taken out again at the end if unread.
  if (g_promptWaiting != 0 && g_enterInjected == 0) {
    g_enterInjected = 1;
    platform.completePromptLine();
  }
  ReleaseSRWLockExclusive(&g_promptLock);

  if (processEnds) (void)platform.waitForTeardown(STOP_TEARDOWN_WAIT_MS);
  return TRUE;
}

void StartStopRequests() {
  if (g_teardownDone == nullptr) g_teardownDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  (void)SetConsoleCtrlHandler(ConsoleControlHandler, TRUE);
}

int StopRequested() { return g_stopRequested; }

int BeginPromptWait() {
  SetPromptWaiting(1);
  // The handler saw no prompt if it came first; then it is seen here.
  return g_stopRequested == 0 ? 1 : 0;
}

void EndPromptWait() { SetPromptWaiting(0); }

void FinishStopRequests() {
  SetPromptWaiting(0);
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
  SetPromptWaiting(0);
  g_stopRequested = 0;
  g_enterInjected = 0;
  if (g_teardownDone != nullptr) (void)ResetEvent(g_teardownDone);
}
