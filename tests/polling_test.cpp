// The polling loop on a stand-in platform: the wait, the screen clearing,
// the keyboard and the console device are free functions over the state
// below, so the tests see every cycle's order of steps and its screen text
// exactly, and no test waits real time. The reads go to a fake group.
#include "polling.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <deque>
#include <string>
#include <vector>

#include "com_test.h"
#include "fake_group.h"
#include "test_tables.h"

namespace {

using ::testing::Invoke;
using ::testing::NotNull;
using ::testing::Pointee;
using ::testing::Return;
using ::testing::StrictMock;

const wchar_t CLEAR_MARK[] = L"<cls>";
const wchar_t PROMPT[] = L"\r\n\r\nPress ESC to exit";
const int ESC = 27;

// A loop that did not stop on the scripted ESC ends the test this way.
struct LoopRanAway {};
const int MOST_CYCLES = 50;

// ---- the stand-in platform and what it saw ------------------------------

struct PlatformState {
  // keys[n] are pressed during the wait of cycle n + 1.
  std::vector<std::vector<int>> keys;
  std::deque<int> waiting;
  int cycles = 0;
  // A stop request (Ctrl+C and the like), raised by a test's read.
  bool stopRaised = false;
  // One entry per step: "sleep 500", "clear", "key? no", "key 120",
  // "read 0x100", "write <text>" (consecutive writes merged).
  std::vector<std::wstring> events;
  // Everything written, with CLEAR_MARK where the screen was cleared.
  std::wstring console;
  // The clock in milliseconds; each logged read takes readMs of it.
  DWORD now = 0;
  DWORD readMs = 0;
  // The clock at each write and at the end of each logged read.
  std::vector<DWORD> writeTimes;
  std::vector<size_t> recordsPerWrite;
  std::vector<std::wstring> pieces;
  std::vector<DWORD> readTimes;
  size_t longestWrite = 0;
};
PlatformState g_platform;

void Event(const std::wstring &event) { g_platform.events.push_back(event); }

void StandInSleep(DWORD milliseconds) {
  Event(L"sleep " + std::to_wstring(milliseconds));
  if (++g_platform.cycles > MOST_CYCLES) throw LoopRanAway();
  const size_t cycle = static_cast<size_t>(g_platform.cycles) - 1;
  if (cycle < g_platform.keys.size()) {
    for (int key : g_platform.keys[cycle]) g_platform.waiting.push_back(key);
  }
}

void StandInClearScreen() {
  Event(L"clear");
  g_platform.console += CLEAR_MARK;
}

int StandInKeyWaiting() {
  Event(g_platform.waiting.empty() ? L"key? no" : L"key? yes");
  return g_platform.waiting.empty() ? 0 : 1;
}

int StandInReadKey() {
  if (g_platform.waiting.empty()) {
    // _getch would block here for good.
    ADD_FAILURE() << "readKey called with no key waiting";
    Event(L"key (none waiting)");
    return 0;
  }
  const int key = g_platform.waiting.front();
  g_platform.waiting.pop_front();
  Event(L"key " + std::to_wstring(key));
  return key;
}

int StandInStopRequested() {
  if (g_platform.stopRaised) Event(L"stop");
  return g_platform.stopRaised ? 1 : 0;
}

void StandInWrite(const wchar_t *text, size_t length) {
  const std::wstring written(text, length);
  g_platform.writeTimes.push_back(g_platform.now);
  g_platform.recordsPerWrite.push_back(static_cast<size_t>(std::count(written.begin(), written.end(), L'[')));
  g_platform.longestWrite = std::max(g_platform.longestWrite, length);
  g_platform.pieces.push_back(written);
  g_platform.console += written;
  if (!g_platform.events.empty() && g_platform.events.back().rfind(L"write ", 0) == 0) {
    g_platform.events.back() += written;
  } else {
    Event(L"write " + written);
  }
}

DWORD StandInClock() { return g_platform.now; }

const PollingPlatform STAND_IN = {StandInSleep, StandInClearScreen, StandInKeyWaiting, StandInReadKey,
                                  StandInStopRequested, StandInWrite, StandInClock};

// The screen of every cycle: the text written after each clear.
std::vector<std::wstring> Screens() {
  std::vector<std::wstring> screens;
  const std::wstring &console = g_platform.console;
  size_t at = console.find(CLEAR_MARK);
  EXPECT_EQ(0u, at) << "text written before the first clear";
  while (at != std::wstring::npos) {
    const size_t start = at + wcslen(CLEAR_MARK);
    at = console.find(CLEAR_MARK, start);
    screens.push_back(console.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
  }
  return screens;
}

std::wstring Hex(OPCHANDLE handle) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%x", static_cast<unsigned>(handle));
  return text;
}

FILETIME Utc(WORD hour, WORD minute, WORD second) {
  SYSTEMTIME fields = {2024, 5, 1, 6, hour, minute, second, 0};
  FILETIME time = {};
  EXPECT_TRUE(SystemTimeToFileTime(&fields, &time));
  return time;
}

// ---- the fixture ----------------------------------------------------------

class PollingTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    g_platform = PlatformState();
  }

  // A group item per name, valued 1, 2, 3 ... as VT_I2, good, at the
  // fake's time stamp (07:08:09 UTC).
  void AddItems(size_t count) {
    for (size_t i = 1; i <= count; ++i) {
      const OPCHANDLE handle = group.AddItem(L"T" + std::to_wstring(i), static_cast<OPCHANDLE>(i));
      group.items[handle].value = TestVariant::I2(static_cast<SHORT>(i));
      handles.push_back(handle);
    }
  }

  // Every read of `handle` goes to the fake's default; each is logged with
  // the group's references at that moment.
  void ExpectReads(OPCHANDLE handle, int times) {
    EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(handle), NotNull(), NotNull()))
        .Times(times)
        .WillRepeatedly(Invoke(this, &PollingTest::LoggedRead));
  }

  HRESULT LoggedRead(OPCDATASOURCE source, DWORD count, OPCHANDLE *serverHandles, OPCITEMSTATE **states,
                     HRESULT **errors) {
    Event(L"read " + Hex(serverHandles[0]));
    g_platform.now += g_platform.readMs;
    g_platform.readTimes.push_back(g_platform.now);
    referencesDuringReads.push_back(group.References());
    return group.DefaultRead(source, count, serverHandles, states, errors);
  }

  // Runs the loop with the scripted keys over the names and the handles.
  void Poll(std::vector<std::vector<int>> keys, const TagNameTable &names) {
    g_platform.keys = std::move(keys);
    const ItemHandleTable table = {static_cast<LONG>(handles.size()), handles.empty() ? nullptr : handles.data()};
    try {
      PollItemsOn(STAND_IN, &group, names, table);
    } catch (const LoopRanAway &) {
      ADD_FAILURE() << "the loop went on past " << MOST_CYCLES << " cycles; the script ended with ESC";
    }
  }

  StrictMock<FakeGroup> group{"group"};
  std::vector<OPCHANDLE> handles;
  std::vector<LONG> referencesDuringReads;
};

// "[T<i>=<i> 07:08:09 good]\t", the record of item i of AddItems.
std::wstring R(int i) { return L"[T" + std::to_wstring(i) + L"=" + std::to_wstring(i) + L" 07:08:09 good]\t"; }

// ---- order of the steps, keys ---------------------------------------------

TEST_F(PollingTest, EachCycleWaitsClearsLooksAtOneKeyReadsThenPrompts) {
  AddItems(2);
  const TestNameTable names = TestNameTable::Numbered(L"T", 2);
  ExpectReads(handles[0], 2);
  ExpectReads(handles[1], 2);

  Poll({{}, {'x'}, {ESC}}, names.table());

  // Reads that take no time: the cycle's screen goes out in one piece
  // after the last read, before the next wait.
  const std::wstring screen = L"write " + R(1) + R(2) + PROMPT;
  const std::vector<std::wstring> expected = {
      L"sleep 500", L"clear", L"key? no",  L"read 0x100", L"read 0x101", screen,
      L"sleep 500", L"clear", L"key? yes", L"key 120",    L"read 0x100", L"read 0x101", screen,
      L"sleep 500", L"clear", L"key? yes", L"key 27",
  };
  EXPECT_EQ(expected, g_platform.events);
}

TEST_F(PollingTest, NoRecordWaitsPastTheBoundWhateverTheReadsTake) {
  const DWORD readTimes[] = {0, 1, 10, 20, 49, 50, 60, 400};
  const size_t items = 40;
  AddItems(items);
  const TestNameTable names = TestNameTable::Numbered(L"T", items);
  for (OPCHANDLE handle : handles) ExpectReads(handle, 2 * 8);
  std::wstring screen;
  for (size_t i = 1; i <= items; ++i) screen += R(static_cast<int>(i)) + (i % 3 == 0 ? L"\r\n" : L"");
  screen += PROMPT;
  for (DWORD readMs : readTimes) {
    SCOPED_TRACE("reads of " + std::to_string(readMs) + " ms");
    g_platform = PlatformState();
    g_platform.readMs = readMs;

    Poll({{}, {}, {ESC}}, names.table());

    // Record n went out with the write that took the count of records
    // written past n.
    std::vector<DWORD> shown;
    for (size_t w = 0; w < g_platform.writeTimes.size(); ++w) {
      shown.insert(shown.end(), g_platform.recordsPerWrite[w], g_platform.writeTimes[w]);
    }
    ASSERT_EQ(2 * items, g_platform.readTimes.size());
    ASSERT_EQ(2 * items, shown.size());
    for (size_t r = 0; r < shown.size(); ++r) {
      EXPECT_LE(shown[r] - g_platform.readTimes[r], RECORD_LATENCY_MS)
          << "record " << r << " read at " << g_platform.readTimes[r] << " ms, written at " << shown[r] << " ms";
    }
    // Fast reads share one write a cycle; slow ones get a write each.
    if (readMs == 0) {
      EXPECT_EQ(2u, g_platform.writeTimes.size());
    } else if (readMs >= RECORD_LATENCY_MS) {
      EXPECT_EQ(2 * items, g_platform.writeTimes.size());
    }
    const std::vector<std::wstring> expected = {screen, screen, L""};
    EXPECT_EQ(expected, Screens());
  }
}

TEST_F(PollingTest, EscEndsTheLoopOnTheFreshlyClearedScreenWithoutReading) {
  AddItems(3);
  const TestNameTable names = TestNameTable::Numbered(L"T", 3);
  // Any read in the first cycle is a call the strict fake did not expect.

  Poll({{ESC}}, names.table());

  EXPECT_EQ(1, g_platform.cycles);
  EXPECT_EQ(std::wstring(CLEAR_MARK), g_platform.console);
  EXPECT_EQ(0u, group.Queries(IID_IOPCSyncIO));
  const std::vector<std::wstring> expected = {L"sleep 500", L"clear", L"key? yes", L"key 27"};
  EXPECT_EQ(expected, g_platform.events);
}

TEST_F(PollingTest, StopRequestEndsTheLoopAtTheNextReadOrKeyCheckOnAClearedScreen) {
  AddItems(3);
  const TestNameTable names = TestNameTable::Numbered(L"T", 3);
  const std::wstring screen = L"write " + R(1) + R(2) + R(3) + L"\r\n" + PROMPT;
  const std::vector<std::wstring> firstCycle = {L"sleep 500",  L"clear",      L"key? no",
                                                L"read 0x100", L"read 0x101", L"read 0x102", screen};
  const struct {
    const char *what;
    int stopInRead;  // 1-based, over the whole run
    std::vector<std::wstring> then;
  } cases[] = {
      // No read is left in the cycle: it ends whole, and the next one stops
      // on its cleared screen before the key check; no ESC is scripted, and
      // the key waiting then is left alone.
      {"during the last read of a cycle", 3, {L"sleep 500", L"clear", L"stop"}},
      // The rest of the cycle is not read, and what it read is not shown.
      {"during the first read of a cycle", 4,
       {L"sleep 500", L"clear", L"key? yes", L"key 120", L"read 0x100", L"stop", L"clear"}},
      {"during a read amid a cycle", 5,
       {L"sleep 500", L"clear", L"key? yes", L"key 120", L"read 0x100", L"read 0x101", L"stop", L"clear"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    g_platform = PlatformState();
    int reads = 0;
    EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, NotNull(), NotNull(), NotNull()))
        .WillRepeatedly(Invoke([&](OPCDATASOURCE source, DWORD count, OPCHANDLE *serverHandles,
                                   OPCITEMSTATE **states, HRESULT **errors) {
          if (++reads == c.stopInRead) g_platform.stopRaised = true;
          return LoggedRead(source, count, serverHandles, states, errors);
        }));

    Poll({{}, {'x'}}, names.table());

    std::vector<std::wstring> expected = firstCycle;
    expected.insert(expected.end(), c.then.begin(), c.then.end());
    EXPECT_EQ(expected, g_platform.events);
    EXPECT_EQ(L"", Screens().back()) << "the teardown would not start on a cleared screen";
    EXPECT_EQ(0, group.References());
    ::testing::Mock::VerifyAndClearExpectations(&group);
  }
}

struct KeyCase {
  const char *what;
  std::vector<std::vector<int>> keys;
  int cycles;  // including the one that sees ESC
};

const std::vector<KeyCase> &KeyCases() {
  static const std::vector<KeyCase> cases = {
      {"ESC in the first wait", {{ESC}}, 1},
      {"ESC in the third wait", {{}, {}, {ESC}}, 3},
      {"'x' then ESC in later waits", {{}, {'x'}, {ESC}}, 3},
      {"ESC waiting behind 'x'", {{'x', ESC}}, 2},
      {"ESC behind a two-code function key (F1)", {{}, {0, 59, ESC}}, 4},
      {"ESC behind a two-code arrow key (up)", {{0xE0, 72, ESC}}, 3},
      {"ESC behind ESC", {{ESC, ESC}}, 1},
      {"a space and a carriage return, then ESC", {{' '}, {'\r'}, {ESC}}, 3},
  };
  return cases;
}

TEST_F(PollingTest, TakesOneKeyPerCycleAndEndsOnlyOnEsc) {
  AddItems(1);
  const TestNameTable names = TestNameTable::Numbered(L"T", 1);
  EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(handles[0]), NotNull(), NotNull()))
      .WillRepeatedly(Invoke(&group, &FakeGroup::DefaultRead));
  for (const KeyCase &c : KeyCases()) {
    SCOPED_TRACE(c.what);
    g_platform = PlatformState();

    Poll(c.keys, names.table());

    EXPECT_EQ(c.cycles, g_platform.cycles);
    // Every cycle before the last shows the same screen, a key or not; the
    // last one stays cleared.
    std::vector<std::wstring> expected(static_cast<size_t>(c.cycles - 1), R(1) + PROMPT);
    expected.push_back(L"");
    EXPECT_EQ(expected, Screens());
  }
}

TEST_F(PollingTest, WaitsTheHalfSecondFirstInEveryCycle) {
  AddItems(1);
  const TestNameTable names = TestNameTable::Numbered(L"T", 1);
  ExpectReads(handles[0], 4);

  Poll({{}, {'a'}, {}, {'b'}, {ESC}}, names.table());

  ASSERT_EQ(5, g_platform.cycles);
  size_t sleeps = 0;
  for (size_t i = 0; i < g_platform.events.size(); ++i) {
    if (g_platform.events[i].rfind(L"sleep ", 0) != 0) continue;
    ++sleeps;
    EXPECT_EQ(L"sleep 500", g_platform.events[i]);
    EXPECT_TRUE(i == 0 || g_platform.events[i - 1].rfind(L"write ", 0) == 0)
        << "step before the wait: " << ::testing::PrintToString(g_platform.events[i - 1]);
    ASSERT_LT(i + 1, g_platform.events.size());
    EXPECT_EQ(L"clear", g_platform.events[i + 1]);
  }
  EXPECT_EQ(5u, sleeps);
}

// ---- layouts ---------------------------------------------------------------

struct LayoutCase {
  const char *what;
  size_t items;
  std::vector<int> unreadable;  // 1-based items whose Read fails as a call
  std::wstring screen;
};

std::vector<LayoutCase> LayoutCases() {
  const std::wstring P = PROMPT;
  return {
      {"no items", 0, {}, P},
      {"one item", 1, {}, R(1) + P},
      {"three items", 3, {}, R(1) + R(2) + R(3) + L"\r\n" + P},
      {"four items", 4, {}, R(1) + R(2) + R(3) + L"\r\n" + R(4) + P},
      {"six items", 6, {}, R(1) + R(2) + R(3) + L"\r\n" + R(4) + R(5) + R(6) + L"\r\n" + P},
      {"seven items", 7, {}, R(1) + R(2) + R(3) + L"\r\n" + R(4) + R(5) + R(6) + L"\r\n" + R(7) + P},
      {"the second of three unreadable", 3, {2}, R(1) + R(3) + P},
      {"the second of four unreadable", 4, {2}, R(1) + R(3) + R(4) + L"\r\n" + P},
      {"the first and last of five unreadable", 5, {1, 5}, R(2) + R(3) + R(4) + L"\r\n" + P},
      {"none of three readable", 3, {1, 2, 3}, P},
  };
}

TEST_F(PollingTest, LaysOutReadableRecordsThreeToALineThenThePrompt) {
  for (const LayoutCase &c : LayoutCases()) {
    SCOPED_TRACE(c.what);
    g_platform = PlatformState();
    group.items.clear();
    handles.clear();
    AddItems(c.items);
    const TestNameTable names = TestNameTable::Numbered(L"T", c.items);
    for (size_t i = 1; i <= c.items; ++i) {
      auto &read = EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(handles[i - 1]), NotNull(), NotNull()))
                       .Times(2);
      if (std::find(c.unreadable.begin(), c.unreadable.end(), static_cast<int>(i)) != c.unreadable.end()) {
        read.WillRepeatedly(Return(E_FAIL));
      } else {
        read.WillRepeatedly(Invoke(&group, &FakeGroup::DefaultRead));
      }
    }

    Poll({{}, {}, {ESC}}, names.table());

    const std::vector<std::wstring> expected = {c.screen, c.screen, L""};
    EXPECT_EQ(expected, Screens());
    ::testing::Mock::VerifyAndClearExpectations(&group);
  }
}

// ---- the records -----------------------------------------------------------

struct RecordCase {
  const char *what;
  const wchar_t *name;
  TestVariant value;
  WORD quality;
  FILETIME timeStamp;
  std::wstring record;
};

std::vector<RecordCase> RecordCases() {
  const FILETIME at = Utc(14, 3, 27);
  const FILETIME topBit = {0, 0x80000000};
  const std::wstring longName(1500, L'n');
  static const std::wstring names[] = {std::wstring(1022, L'a'), std::wstring(1023, L'b'),
                                       std::wstring(1024, L'c'), std::wstring(1025, L'd'), longName};
  return {
      {"VT_I2 215, good", L"T1", TestVariant::I2(215), OPC_QUALITY_GOOD, at, L"[T1=215 14:03:27 good]\t"},
      {"empty, bad", L"T1", TestVariant(), OPC_QUALITY_BAD, at, L"[T1=? 14:03:27 bad]\t"},
      {"VT_BSTR, good", L"T1", TestVariant::Bstr(L"text"), OPC_QUALITY_GOOD, at, L"[T1= 14:03:27 good]\t"},
      {"VT_R8, uncertain", L"T1", TestVariant::R8(2.5), 0x40, at, L"[T1= 14:03:27 no good]\t"},
      {"VT_I4 -70000, not connected", L"T1", TestVariant::I4(-70000), OPC_QUALITY_NOT_CONNECTED, at,
       L"[T1=-70000 14:03:27 not_connected]\t"},
      {"VT_I2 -32768, comm failure", L"T1", TestVariant::I2(-32768), OPC_QUALITY_COMM_FAILURE, at,
       L"[T1=-32768 14:03:27 comm_failure]\t"},
      {"a time stamp with its top bit set", L"T1", TestVariant::I2(7), OPC_QUALITY_GOOD, topBit,
       L"[T1=7 bad timestamp good]\t"},
      {"a name with a degree sign", L"Temp_\u00b0C", TestVariant::I2(21), OPC_QUALITY_GOOD, at,
       L"[Temp_\u00b0C=21 14:03:27 good]\t"},
      {"a name in CJK", L"\u540d\u524d", TestVariant::I2(1), OPC_QUALITY_GOOD, at,
       L"[\u540d\u524d=1 14:03:27 good]\t"},
      {"a name beyond the basic plane", L"G\xD83D\xDE00", TestVariant::I2(1), OPC_QUALITY_GOOD, at,
       L"[G\xD83D\xDE00=1 14:03:27 good]\t"},
      {"a name of 1022 characters", names[0].c_str(), TestVariant::I2(1), OPC_QUALITY_GOOD, at,
       L"[" + names[0] + L"=1 14:03:27 good]\t"},
      {"a name of 1023 characters", names[1].c_str(), TestVariant::I2(1), OPC_QUALITY_GOOD, at,
       L"[" + names[1] + L"=1 14:03:27 good]\t"},
      {"a name of 1024 characters", names[2].c_str(), TestVariant::I2(1), OPC_QUALITY_GOOD, at,
       L"[" + names[2] + L"=1 14:03:27 good]\t"},
      {"a name of 1025 characters", names[3].c_str(), TestVariant::I2(1), OPC_QUALITY_GOOD, at,
       L"[" + names[3] + L"=1 14:03:27 good]\t"},
      {"a name of 1500 characters", names[4].c_str(), TestVariant::I2(1), OPC_QUALITY_GOOD, at,
       L"[" + names[4] + L"=1 14:03:27 good]\t"},
  };
}

TEST_F(PollingTest, WritesEachRecordWhole) {
  for (const RecordCase &c : RecordCases()) {
    SCOPED_TRACE(c.what);
    g_platform = PlatformState();
    group.items.clear();
    handles.clear();
    const OPCHANDLE handle = group.AddItem(c.name);
    FakeItem &item = group.items[handle];
    item.value = c.value;
    item.quality = c.quality;
    item.timeStamp = c.timeStamp;
    handles.push_back(handle);
    const TestNameTable names({c.name});
    ExpectReads(handle, 1);

    Poll({{}, {ESC}}, names.table());

    const std::vector<std::wstring> expected = {c.record + PROMPT, L""};
    EXPECT_EQ(expected, Screens());
    ::testing::Mock::VerifyAndClearExpectations(&group);
  }
  group.items.clear();  // the fake's own BSTRs go before the ledger's count
}

TEST_F(PollingTest, ARecordLongerThanTheGatherGoesOutWholeWithoutCuttingAPair) {
  // After "[", the pair's first half is the gather's last unit.
  const std::wstring name = std::wstring(GATHER_UNITS - 2, L'a') + L"\xD83D\xDE00" + std::wstring(5000, L'b');
  const OPCHANDLE handle = group.AddItem(name);
  group.items[handle].value = TestVariant::I2(1);
  group.items[handle].timeStamp = Utc(14, 3, 27);
  handles.push_back(handle);
  const TestNameTable names({name.c_str()});
  ExpectReads(handle, 1);

  Poll({{}, {ESC}}, names.table());

  const std::vector<std::wstring> expected = {L"[" + name + L"=1 14:03:27 good]\t" + PROMPT, L""};
  EXPECT_EQ(expected, Screens());
  EXPECT_LE(g_platform.longestWrite, GATHER_UNITS);
  EXPECT_EQ(3u, g_platform.writeTimes.size());
  for (const std::wstring &piece : g_platform.pieces) {
    EXPECT_FALSE(piece.back() >= 0xD800 && piece.back() <= 0xDBFF) << "a write ends inside a pair";
  }
  group.items.clear();
}

TEST_F(PollingTest, ShowsANameTheBrowseLeftEmptyAsAnEmptyName) {
  AddItems(3);
  const TestNameTable names({L"T1", nullptr, L"T3"});
  ExpectReads(handles[0], 1);
  ExpectReads(handles[1], 1);
  ExpectReads(handles[2], 1);

  Poll({{}, {ESC}}, names.table());

  const std::vector<std::wstring> expected = {R(1) + L"[=2 07:08:09 good]\t" + R(3) + L"\r\n" + PROMPT, L""};
  EXPECT_EQ(expected, Screens());
}

// ---- the sync interface and the memory of each read -----------------------

TEST_F(PollingTest, ShowsNoRecordsForAGroupWithoutSyncIO) {
  const Answer answers[] = {Answer::Refuse, Answer::SucceedNull};
  for (Answer answer : answers) {
    SCOPED_TRACE(answer == Answer::Refuse ? "E_NOINTERFACE" : "S_OK with null");
    g_platform = PlatformState();
    group.items.clear();
    handles.clear();
    AddItems(4);
    const TestNameTable names = TestNameTable::Numbered(L"T", 4);
    group.SetAnswer(IID_IOPCSyncIO, answer);
    const size_t queriesBefore = group.Queries(IID_IOPCSyncIO);
    // No Read may reach the strict fake.

    Poll({{}, {}, {ESC}}, names.table());

    const std::vector<std::wstring> expected = {PROMPT, PROMPT, L""};
    EXPECT_EQ(expected, Screens());
    EXPECT_EQ(8u, group.Queries(IID_IOPCSyncIO) - queriesBefore) << "one query per item and cycle";
    EXPECT_EQ(0, group.References());
  }
}

TEST_F(PollingTest, AsksForTheSyncInterfaceAnewForEveryReadAndReleasesIt) {
  AddItems(3);
  const TestNameTable names = TestNameTable::Numbered(L"T", 3);
  ExpectReads(handles[0], 2);
  ExpectReads(handles[1], 2);
  ExpectReads(handles[2], 2);

  Poll({{}, {}, {ESC}}, names.table());

  EXPECT_EQ(6u, group.Queries(IID_IOPCSyncIO));
  // Exactly the one reference of the sync interface during each read.
  EXPECT_EQ(std::vector<LONG>(6, 1), referencesDuringReads);
  EXPECT_EQ(0, group.References());
}

TEST_F(PollingTest, ReleasesTheSyncInterfaceOfAFailedRead) {
  AddItems(2);
  const TestNameTable names = TestNameTable::Numbered(L"T", 2);
  EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(handles[0]), NotNull(), NotNull()))
      .Times(2)
      .WillRepeatedly(Return(E_FAIL));
  ExpectReads(handles[1], 2);

  Poll({{}, {}, {ESC}}, names.table());

  EXPECT_EQ(4u, group.Queries(IID_IOPCSyncIO));
  EXPECT_EQ(0, group.References());
}

TEST_F(PollingTest, ClearsEveryValueAndFreesEveryArrayTheServerHandsOut) {
  AddItems(4);
  group.items[handles[0]].value = TestVariant::Bstr(L"a string the loop shows as nothing");
  group.items[handles[2]].value = TestVariant::Bstr(L"another");
  const TestNameTable names = TestNameTable::Numbered(L"T", 4);
  for (OPCHANDLE handle : handles) ExpectReads(handle, 3);
  const size_t liveBefore = Ledger().Live();
  const size_t allocatedBefore = Ledger().Allocated();

  Poll({{}, {}, {}, {ESC}}, names.table());

  // Per read: the states, the errors and, for a string, its copy in the
  // state and the one in the sample.
  EXPECT_EQ(12u * 2 + 6u * 2, Ledger().Allocated() - allocatedBefore);
  EXPECT_EQ(liveBefore, Ledger().Live()) << Ledger().DescribeLive();
  group.items.clear();  // the fake's own BSTRs go before the ledger's count
}

}  // namespace
