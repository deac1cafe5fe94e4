// The console control handler's logic without a console event: what it
// records, when it completes the prompt line, how long it waits for the
// teardown and what it answers, on a stand-in platform; then the real wait
// on the teardown event, across threads as the system calls the handler.
#include "stop_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct HandlerState {
  int lines = 0;
  std::vector<DWORD> waits;
};
HandlerState g_handler;

void StandInCompletePromptLine() { ++g_handler.lines; }
int StandInWaitForTeardown(DWORD milliseconds) {
  g_handler.waits.push_back(milliseconds);
  return 1;
}
const StopHandlerPlatform STAND_IN = {StandInCompletePromptLine, StandInWaitForTeardown};

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
    EXPECT_EQ(0, g_handler.lines) << "no prompt was waiting";
  }
  // The system ends the process about 5 s after a close.
  EXPECT_LT(STOP_TEARDOWN_WAIT_MS, 5000u);
}

TEST_F(StopRequestTest, CompletesThePromptLineOnceAndOnlyWhileThePromptWaits) {
  EXPECT_TRUE(HandleStopEvent(CTRL_C_EVENT, STAND_IN));
  EXPECT_EQ(0, BeginPromptWait()) << "a stop just before the prompt: no read may start";
  EndPromptWait();
  ResetStopRequests();

  ASSERT_EQ(1, BeginPromptWait());
  EXPECT_TRUE(HandleStopEvent(CTRL_C_EVENT, STAND_IN));
  EXPECT_TRUE(HandleStopEvent(CTRL_CLOSE_EVENT, STAND_IN));
  EndPromptWait();
  EXPECT_TRUE(HandleStopEvent(CTRL_BREAK_EVENT, STAND_IN));
  EXPECT_EQ(1, g_handler.lines) << "one ENTER while the prompt waits, none before or after";
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

}  // namespace
