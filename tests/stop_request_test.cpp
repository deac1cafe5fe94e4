// The console control handler's logic without a console event: what it
// records, how long it waits for the teardown and what it answers, on a
// stand-in platform; then across threads as the system calls the handler:
// the real wait on the teardown event, and the ENTER prompt on a real pipe,
// ended by a line, by the end of input or by a Ctrl+C, and for a console.
#include "stop_request.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::vector<DWORD> g_waits;

int StandInWaitForTeardown(DWORD milliseconds) {
  g_waits.push_back(milliseconds);
  return 1;
}
const StopHandlerPlatform STAND_IN = {StandInWaitForTeardown};

class StopRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetStopRequests();
    g_waits.clear();
  }
  void TearDown() override { ResetStopRequests(); }
};

TEST_F(StopRequestTest, EachControlEventIsAStopAndOnlyThoseTheProcessDoesNotOutliveWait) {
  const struct {
    DWORD event;
    BOOL taken;
    bool waits;
  } cases[] = {
      {CTRL_C_EVENT, TRUE, false},     {CTRL_BREAK_EVENT, TRUE, false},   {CTRL_CLOSE_EVENT, TRUE, true},
      {CTRL_LOGOFF_EVENT, TRUE, true}, {CTRL_SHUTDOWN_EVENT, TRUE, true}, {3, FALSE, false},
      {7, FALSE, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("event " + std::to_string(c.event));
    ResetStopRequests();
    g_waits.clear();

    EXPECT_EQ(c.taken, HandleStopEvent(c.event, STAND_IN));
    EXPECT_EQ(c.taken ? 1 : 0, StopRequested());
    EXPECT_EQ(c.waits ? std::vector<DWORD>{STOP_TEARDOWN_WAIT_MS} : std::vector<DWORD>(), g_waits);
  }
  // The system ends the process about 5 s after a close.
  EXPECT_LT(STOP_TEARDOWN_WAIT_MS, 5000u);
}

TEST_F(StopRequestTest, ASecondCtrlCOrBreakWhileTheFirstIsHonouredIsLeftToTheSystem) {
  // A close after a Ctrl+C still gets its teardown wait.
  const struct {
    DWORD first;
    DWORD second;
    BOOL taken;
    size_t waits;
  } cases[] = {
      {CTRL_C_EVENT, CTRL_C_EVENT, FALSE, 0},     {CTRL_C_EVENT, CTRL_BREAK_EVENT, FALSE, 0},
      {CTRL_BREAK_EVENT, CTRL_C_EVENT, FALSE, 0}, {CTRL_CLOSE_EVENT, CTRL_C_EVENT, FALSE, 1},
      {CTRL_C_EVENT, CTRL_CLOSE_EVENT, TRUE, 1},  {3, CTRL_C_EVENT, TRUE, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("event " + std::to_string(c.first) + " then " + std::to_string(c.second));
    ResetStopRequests();
    g_waits.clear();
    (void)HandleStopEvent(c.first, STAND_IN);

    EXPECT_EQ(c.taken, HandleStopEvent(c.second, STAND_IN));
    EXPECT_EQ(1, StopRequested());
    EXPECT_EQ(std::vector<DWORD>(c.waits, STOP_TEARDOWN_WAIT_MS), g_waits);
  }
}

struct CloseCall {
  HANDLE returned;
  BOOL result;
};

DWORD WINAPI CallHandlerForClose(void *argument) {
  CloseCall *call = static_cast<CloseCall *>(argument);
  call->result = HandleStopEvent(CTRL_CLOSE_EVENT, CONSOLE_STOP_PLATFORM);
  SetEvent(call->returned);
  return 0;
}

TEST_F(StopRequestTest, CloseHandlerReturnsOnceTheTeardownIsDoneOrTheWaitRunsOut) {
  StartStopRequests();
  CloseCall call = {CreateEventW(nullptr, TRUE, FALSE, nullptr), FALSE};
  ASSERT_NE(nullptr, call.returned);
  HANDLE thread = CreateThread(nullptr, 0, CallHandlerForClose, &call, 0, nullptr);
  ASSERT_NE(nullptr, thread);

  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(call.returned, 300))
      << "the handler returned before the teardown";
  EXPECT_EQ(1, StopRequested());
  FinishStopRequests();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(call.returned, 1000)) << "the handler still waits after the teardown";
  EXPECT_EQ(TRUE, call.result);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(call.returned);

  // With no teardown coming, the wait ends by itself.
  ResetStopRequests();
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(0, CONSOLE_STOP_PLATFORM.waitForTeardown(200));
  EXPECT_GE(GetTickCount64() - start, 150u);
}

// ---- the prompt on a pipe --------------------------------------------------

// What the user and the system do while the prompt waits, in order, each so
// many milliseconds after it began, on a thread of its own as the system
// would: 'l' writes a line ('L', 'U': 600 bytes of ASCII, of UTF-8, then
// MORE), 'e' closes the writer (the end of input), 'c' is a Ctrl+C. The
// writer is closed once the prompt has returned, or after
// PROMPT_GIVE_UP_MS, so a prompt that misses a stop still returns.
using PromptSteps = std::vector<std::pair<DWORD, char>>;
constexpr DWORD PROMPT_GIVE_UP_MS = 3000;
const std::string MORE = "what the shell reads next\r\n";

// A pipe in message mode hands out one write at a time, a long one piece by
// piece, as a console in line mode hands out lines.
bool OpenPipe(bool lines, HANDLE *reader, HANDLE *writer) {
  if (!lines) return CreatePipe(reader, writer, nullptr, 0) != 0;
  static int count = 0;
  const std::wstring name =
      L"\\\\.\\pipe\\prompt." + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(++count);
  *reader = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 4096,
                             4096, 0, nullptr);
  *writer = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  return *reader != INVALID_HANDLE_VALUE && *writer != INVALID_HANDLE_VALUE;
}

int StandsInForALineConsole(HANDLE) { return 1; }

void PlayPromptInput(PromptSteps steps, HANDLE writer, HANDLE promptReturned) {
  steps.push_back({PROMPT_GIVE_UP_MS, 'e'});
  const ULONGLONG start = GetTickCount64();
  for (const auto &step : steps) {
    const ULONGLONG now = GetTickCount64() - start;
    if (WaitForSingleObject(promptReturned, step.first > now ? static_cast<DWORD>(step.first - now) : 0) ==
        WAIT_OBJECT_0) {
      break;
    }
    if (step.second == 'l') {
      static const char LINE[] = "typed at the prompt\r\n";
      DWORD written = 0;
      (void)WriteFile(writer, LINE, sizeof LINE - 1, &written, nullptr);
    } else if (step.second == 'L' || step.second == 'U') {
      std::string line;
      while (line.size() < 600) line += step.second == 'L' ? "a" : "\xE6\xB0\xB4";
      for (const std::string &text : {line + "\r\n", MORE}) {
        DWORD written = 0;
        (void)WriteFile(writer, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      }
    } else if (step.second == 'c') {
      (void)HandleStopEvent(CTRL_C_EVENT, CONSOLE_STOP_PLATFORM);
    } else if (writer != nullptr) {
      CloseHandle(writer);
      writer = nullptr;
    }
  }
  if (writer != nullptr) CloseHandle(writer);
}

TEST_F(StopRequestTest, ThePromptEndsWithALineAnEndOfInputOrACtrlCWhicheverComesFirst) {
  StartStopRequests();
  const struct {
    const char *what;
    PromptSteps steps;
    int goesOn;
    ULONGLONG least;
    ULONGLONG most;
    bool console;  // the input stands in for one, and MORE follows the line
  } cases[] = {
      {"nothing comes but a Ctrl+C", {{50, 'c'}}, 0, 40, 250, false},
      {"a line", {{50, 'l'}}, 1, 40, 250, false},
      {"the end of input", {{50, 'e'}}, 1, 50 + STOP_ARRIVAL_WAIT_MS - 20, 50 + STOP_ARRIVAL_WAIT_MS + 500, false},
      {"the end of input with a Ctrl+C on its way", {{50, 'e'}, {150, 'c'}}, 0, 140, 50 + STOP_ARRIVAL_WAIT_MS - 1,
       false},
      {"a console's line of 600 bytes", {{50, 'L'}}, 1, 40, 250, true},
      {"a console's line of 600 bytes in UTF-8", {{50, 'U'}}, 1, 40, 250, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ResetStopRequests();
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    ASSERT_TRUE(OpenPipe(c.console, &reader, &writer));
    HANDLE promptReturned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, promptReturned);
    std::thread player(PlayPromptInput, c.steps, writer, promptReturned);
    const ULONGLONG start = GetTickCount64();

    EXPECT_EQ(c.goesOn, AwaitPromptLine(reader, c.console ? StandsInForALineConsole : InputIsLineConsole))
        << "1: the group stage starts";
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, c.least);
    EXPECT_LE(elapsed, c.most);
    // Nothing of the line is left, what follows it is. (A pipe whose writer
    // is gone cannot be looked into.)
    DWORD left = 0;
    if (PeekNamedPipe(reader, nullptr, 0, nullptr, &left, nullptr)) {
      EXPECT_EQ(c.console ? MORE.size() : 0u, left) << "bytes left";
    }

    // A read the prompt left behind ends with the writer.
    SetEvent(promptReturned);
    player.join();
    CloseHandle(promptReturned);
    CloseHandle(reader);
  }
}

}  // namespace
