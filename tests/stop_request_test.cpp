// The console control handler's logic without a console event: what it
// records, when it ends the prompt's read, how long it waits for the
// teardown and what it answers, on a stand-in platform; then across threads
// as the system calls the handler: the real wait on the teardown event, and
// the prompt's end of input that waits for a stop on its way.
#include "stop_request.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct HandlerState {
  int ends = 0;
  // What endPromptRead answers, call by call; 1 once the script runs out.
  std::vector<int> endAnswers;
  std::vector<DWORD> pauses;
  std::vector<DWORD> waits;
  // The prompt ends during this pause (1-based); 0: never.
  size_t promptEndsInPause = 0;
};
HandlerState g_handler;

int StandInEndPromptRead() {
  const size_t call = static_cast<size_t>(g_handler.ends++);
  return call < g_handler.endAnswers.size() ? g_handler.endAnswers[call] : 1;
}
void StandInPause(DWORD milliseconds) {
  g_handler.pauses.push_back(milliseconds);
  if (g_handler.pauses.size() == g_handler.promptEndsInPause) EndPromptWait();
}
int StandInWaitForTeardown(DWORD milliseconds) {
  g_handler.waits.push_back(milliseconds);
  return 1;
}
const StopHandlerPlatform STAND_IN = {StandInEndPromptRead, StandInPause, StandInWaitForTeardown};

class StopRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetStopRequests();
    g_handler = HandlerState();
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
    g_handler = HandlerState();

    EXPECT_EQ(c.taken, HandleStopEvent(c.event, STAND_IN));
    EXPECT_EQ(c.taken ? 1 : 0, StopRequested());
    EXPECT_EQ(c.waits ? std::vector<DWORD>{STOP_TEARDOWN_WAIT_MS} : std::vector<DWORD>(), g_handler.waits);
    EXPECT_EQ(0, g_handler.ends) << "no prompt was waiting";
  }
  // The system ends the process about 5 s after a close.
  EXPECT_LT(STOP_TEARDOWN_WAIT_MS, 5000u);
}

TEST_F(StopRequestTest, EndsThePromptReadOnceAndOnlyWhileThePromptWaits) {
  EXPECT_TRUE(HandleStopEvent(CTRL_C_EVENT, STAND_IN));
  EXPECT_EQ(0, BeginPromptWait()) << "a stop just before the prompt: no read may start";
  EndPromptWait();
  ResetStopRequests();

  ASSERT_EQ(1, BeginPromptWait());
  EXPECT_TRUE(HandleStopEvent(CTRL_C_EVENT, STAND_IN));
  EXPECT_TRUE(HandleStopEvent(CTRL_CLOSE_EVENT, STAND_IN));
  EndPromptWait();
  EXPECT_TRUE(HandleStopEvent(CTRL_LOGOFF_EVENT, STAND_IN));
  EXPECT_EQ(1, g_handler.ends) << "the read ended once while the prompt waits, never before or after";
  EXPECT_TRUE(g_handler.pauses.empty());
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
    g_handler = HandlerState();
    (void)HandleStopEvent(c.first, STAND_IN);

    EXPECT_EQ(c.taken, HandleStopEvent(c.second, STAND_IN));
    EXPECT_EQ(1, StopRequested());
    EXPECT_EQ(std::vector<DWORD>(c.waits, STOP_TEARDOWN_WAIT_MS), g_handler.waits);
  }
}

TEST_F(StopRequestTest, RetriesAPromptReadNotBegunYetUntilItEndsThePromptEndsOrTheLimit) {
  const DWORD limitTries = PROMPT_READ_RETRY_LIMIT_MS / PROMPT_READ_RETRY_MS + 1;
  const struct {
    const char *what;
    std::vector<int> answers;
    size_t promptEndsInPause;
    int ends;
  } cases[] = {
      {"ended at the third try", {0, 0, 1}, 0, 3},
      {"the prompt ends during the second pause", std::vector<int>(100, 0), 2, 2},
      {"never ended", std::vector<int>(limitTries + 10, 0), 0, static_cast<int>(limitTries)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ResetStopRequests();
    g_handler = HandlerState();
    g_handler.endAnswers = c.answers;
    g_handler.promptEndsInPause = c.promptEndsInPause;
    ASSERT_EQ(1, BeginPromptWait());

    EXPECT_TRUE(HandleStopEvent(CTRL_C_EVENT, STAND_IN));
    EXPECT_EQ(c.ends, g_handler.ends);
    EXPECT_EQ(std::vector<DWORD>(static_cast<size_t>(c.ends) - (c.promptEndsInPause ? 0 : 1), PROMPT_READ_RETRY_MS),
              g_handler.pauses);
    EndPromptWait();
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

// ---- the prompt's end of input --------------------------------------------

// A Ctrl+C as the system delivers it: on a thread of its own, a moment later.
HANDLE g_ctrlC = nullptr;
DWORD WINAPI CtrlCSoon(void *) {
  Sleep(50);
  (void)HandleStopEvent(CTRL_C_EVENT, STAND_IN);
  return 0;
}
int EndOfInputWithCtrlCOnItsWay() {
  g_ctrlC = CreateThread(nullptr, 0, CtrlCSoon, nullptr, 0, nullptr);
  return EOF;
}
int EndOfInput() { return EOF; }
int Character() { return '\n'; }

TEST_F(StopRequestTest, AnEndOfInputWaitsBrieflyForAStopOnItsWayACharacterDoesNot) {
  StartStopRequests();
  const struct {
    const char *what;
    int (*read)();
    int goesOn;
    ULONGLONG least;
    ULONGLONG most;
  } cases[] = {
      {"end of input with a Ctrl+C on its way", EndOfInputWithCtrlCOnItsWay, 0, 0, STOP_ARRIVAL_WAIT_MS - 1},
      {"end of input alone", EndOfInput, 1, STOP_ARRIVAL_WAIT_MS - 50, STOP_ARRIVAL_WAIT_MS + 1000},
      {"a character", Character, 1, 0, 99},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ResetStopRequests();
    const ULONGLONG start = GetTickCount64();

    EXPECT_EQ(c.goesOn, AwaitPromptLine(c.read)) << "1: the group stage starts";
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, c.least);
    EXPECT_LE(elapsed, c.most);
    if (g_ctrlC != nullptr) {
      WaitForSingleObject(g_ctrlC, INFINITE);
      CloseHandle(g_ctrlC);
      g_ctrlC = nullptr;
    }
  }
}

}  // namespace
