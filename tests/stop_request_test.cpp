// The console control handler's logic without a console event: what it
// records, when it ends the prompt's read, how long it waits for the
// teardown and what it answers, on a stand-in platform; then the real
// platform across threads as the system calls the handler: the wait on the
// teardown event, the prompt's read of a pipe cancelled, and an end of input
// that waits for a stop on its way.
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

// ---- the prompt on the real platform ----------------------------------------

// A Ctrl+C as the system delivers it: on a thread of its own, after a delay.
// If the prompt has not returned 3 s later, a line break into `rescue`
// lets a test that reads that pipe fail instead of hanging.
struct LateEvent {
  DWORD delayMs;
  HANDLE returned;
  HANDLE rescue;
};

DWORD WINAPI SendCtrlCLate(void *argument) {
  LateEvent *late = static_cast<LateEvent *>(argument);
  Sleep(late->delayMs);
  (void)HandleStopEvent(CTRL_C_EVENT, CONSOLE_STOP_PLATFORM);
  if (late->rescue != nullptr && WaitForSingleObject(late->returned, 3000) != WAIT_OBJECT_0) {
    DWORD written = 0;
    (void)WriteFile(late->rescue, "\n", 1, &written, nullptr);
  }
  return 0;
}

// Standard input is a pipe that gets no line unless a test writes one.
class PromptTest : public StopRequestTest {
 public:
  void CtrlCAfter(DWORD delayMs) {
    late_.delayMs = delayMs;
    thread_ = CreateThread(nullptr, 0, SendCtrlCLate, &late_, 0, nullptr);
    ASSERT_NE(nullptr, thread_);
  }

 protected:
  void SetUp() override {
    StopRequestTest::SetUp();
    StartStopRequests();
    late_.returned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, late_.returned);
    ASSERT_TRUE(CreatePipe(&reader_, &writer_, nullptr, 0));
    input_ = GetStdHandle(STD_INPUT_HANDLE);
    ASSERT_TRUE(SetStdHandle(STD_INPUT_HANDLE, reader_));
  }
  void TearDown() override {
    if (thread_ != nullptr) {
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
    }
    SetStdHandle(STD_INPUT_HANDLE, input_);
    CloseHandle(reader_);
    CloseHandle(writer_);
    CloseHandle(late_.returned);
    StopRequestTest::TearDown();
  }
  // AwaitPromptLine's answer and how long it took.
  int Await(int (*readCharacter)(), ULONGLONG *elapsedMs) {
    const ULONGLONG start = GetTickCount64();
    const int result = AwaitPromptLine(readCharacter);
    *elapsedMs = GetTickCount64() - start;
    SetEvent(late_.returned);
    return result;
  }

  LateEvent late_ = {0, nullptr, nullptr};
  HANDLE thread_ = nullptr;
  HANDLE reader_ = nullptr;
  HANDLE writer_ = nullptr;
  HANDLE input_ = nullptr;
};

PromptTest *g_prompt = nullptr;
int EndOfInput() { return EOF; }
int EndOfInputWithCtrlCOnItsWay() {
  g_prompt->CtrlCAfter(50);
  return EOF;
}
int Character() { return '\n'; }
// One character from standard input as getc reads it, EOF when the read
// fails (a cancelled one) or finds the end.
int ReadStandardInput() {
  char c = 0;
  DWORD got = 0;
  return ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) && got == 1 ? c : EOF;
}

TEST_F(PromptTest, AnEndOfInputWaitsBrieflyForAStopOnItsWayACharacterDoesNot) {
  g_prompt = this;
  ULONGLONG elapsed = 0;
  EXPECT_EQ(0, Await(EndOfInputWithCtrlCOnItsWay, &elapsed)) << "the group stage would start despite the Ctrl+C";
  EXPECT_LT(elapsed, STOP_ARRIVAL_WAIT_MS);

  ResetStopRequests();
  EXPECT_EQ(1, Await(EndOfInput, &elapsed));
  EXPECT_GE(elapsed + 50, STOP_ARRIVAL_WAIT_MS) << "a plain end of input waits the bound";
  EXPECT_LT(elapsed, STOP_ARRIVAL_WAIT_MS + 1000);

  EXPECT_EQ(1, Await(Character, &elapsed));
  EXPECT_LT(elapsed, 100u) << "a character waited";
}

TEST_F(PromptTest, ACtrlCCancelsThePromptReadOfAPipeThatGetsNoLine) {
  late_.rescue = writer_;
  CtrlCAfter(100);
  ULONGLONG elapsed = 0;
  EXPECT_EQ(0, Await(ReadStandardInput, &elapsed));
  EXPECT_LT(elapsed, 2000u) << "the read waited for a line";

  // A line that comes is read as before.
  ResetStopRequests();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(writer_, "\n", 1, &written, nullptr));
  EXPECT_EQ(1, Await(ReadStandardInput, &elapsed));
}

}  // namespace
