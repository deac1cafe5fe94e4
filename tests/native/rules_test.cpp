// opcdiag's rules where its faults were, on the host: the PE header
// reader, the forms of server paths and the words of a command line, the
// shown path, and one table from what the stages saw to the line, verdict
// and status they give.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "decisions.h"
#include "server_paths.h"

constexpr Code Hr(uint32_t value) { return static_cast<Code>(value); }
constexpr Code kFail = Hr(0x80004005), kCallFailed = Hr(0x800706BE), kNoInterface = Hr(0x80004002);

// The one seam: the system's text, with the line break FormatMessage ends it in.
std::wstring SystemText(Code code) { return code == kFail ? L"Unspecified error\r\n" : L""; }

namespace {

struct Bytes {
  std::vector<unsigned char> data;
};
size_t ReadBytes(void *file, uint64_t offset, unsigned char *into, size_t size) {
  const auto &data = static_cast<Bytes *>(file)->data;
  if (offset >= data.size()) return 0;
  const size_t n = std::min<size_t>(size, data.size() - static_cast<size_t>(offset));
  std::memcpy(into, data.data() + offset, n);
  return n;
}
// An image with its NT headers at `at`, cut to `size` bytes.
Bytes Image(int32_t at, uint16_t machine, uint16_t characteristics, size_t size, const char *signature = "PE") {
  Bytes image{std::vector<unsigned char>(0x200, 0)};
  image.data[0] = 'M', image.data[1] = 'Z';
  std::memcpy(&image.data[0x3C], &at, 4);  // little-endian on every host this builds on
  if (at >= 0 && at + 24 <= 0x200) {
    std::memcpy(&image.data[at], signature, 2);
    std::memcpy(&image.data[at + 4], &machine, 2);
    std::memcpy(&image.data[at + 22], &characteristics, 2);
  }
  image.data.resize(size);
  return image;
}

TEST(PeHeader, MachineAndDllFlagOnlyFromAWholeHeader) {
  struct Row {
    const char *what;
    Bytes image;
    uint16_t machine;
    int dll;
  } rows[] = {
      {"64-bit DLL", Image(0x80, 0x8664, 0x2022, 0x200), 0x8664, 1},
      {"32-bit EXE", Image(0x80, 0x14C, 0x0102, 0x200), 0x14C, 0},
      {"cut inside the DOS header", Image(0x80, 0x8664, 0x2022, 40), 0, 0},
      {"cut inside the NT headers", Image(0x80, 0x8664, 0x2022, 0x90), 0, 0},
      {"negative e_lfanew", Image(-128, 0x8664, 0x2022, 0x200), 0, 0},
      {"huge e_lfanew", Image(0x7FFFFFF0, 0x8664, 0x2022, 0x200), 0, 0},
      {"e_lfanew inside the DOS header", Image(0x10, 0x8664, 0x2022, 0x200), 0, 0},
      {"no PE signature", Image(0x80, 0x8664, 0x2022, 0x200, "NE"), 0, 0},
  };
  for (Row &row : rows) {
    const PeHeader got = ReadPeHeader(ReadBytes, &row.image);
    EXPECT_EQ(row.machine, got.machine) << row.what;
    EXPECT_EQ(row.dll, got.dll) << row.what;
  }
}

TEST(ServerPaths, FormDecidesBeforeAnyFileCall) {
  const std::pair<const wchar_t *, PathForm> rows[] = {
      {L"\\\\.\\pipe\\x", PathForm::kPipe},         {L"//./PIPE/x", PathForm::kPipe},
      {L"\\\\?\\pipe\\x", PathForm::kPipe},          {L"\\\\.\\COM1", PathForm::kDevicePath},
      {L"\\\\?\\C:\\s.dll", PathForm::kDevicePath},  {L"\\??\\C:\\s.dll", PathForm::kDevicePath},
      {L"\\\\host\\share\\s.dll", PathForm::kNetwork}, {L"//host/share/s.dll", PathForm::kNetwork},
      {L"C:\\Windows\\nul.exe", PathForm::kDevice},  {L"C:\\x\\CON", PathForm::kDevice},
      {L"com1.dll", PathForm::kDevice},               {L"LPT9", PathForm::kDevice},
      {L"C:\\x\\s.dll:stream", PathForm::kDevice},   {L"C:\\x\\console.dll", PathForm::kLocal},
      {L"C:\\x\\com10.dll", PathForm::kLocal},       {L"c:/x/s.dll", PathForm::kLocal},
      {L"s.dll", PathForm::kBareName},               {L"x\\s.dll", PathForm::kRelative},
      {L"\\x\\s.dll", PathForm::kRelative},          {L"C:s.dll", PathForm::kRelative},
      {L"", PathForm::kEmpty},
  };
  for (const auto &row : rows) EXPECT_EQ(row.second, FormOfPath(row.first)) << std::wstring(row.first).size();
}

TEST(ServerPaths, CommandLineWordsAreBounded) {
  const std::wstring many(10000 * 2, L' ');
  std::wstring words;
  for (int i = 0; i < 10000; ++i) words += L"a ";
  struct Row {
    std::wstring line;
    std::vector<std::wstring> paths;
    bool cut;
  } rows[] = {
      {L"\"C:\\Program Files\\s.exe\" -Embedding", {L"C:\\Program Files\\s.exe"}, false},
      {L"C:\\Program Files\\s.exe -Embedding",
       {L"C:\\Program", L"C:\\Program Files\\s.exe", L"C:\\Program Files\\s.exe -Embedding"}, false},
      {L"  s.exe \t ", {L"s.exe"}, false},
      {L"C:\\a  b", {L"C:\\a", L"C:\\a  b"}, false},
      {L"a" + many + L"b", {L"a", L"a" + many + L"b"}, false},
      {words, {L"a", L"a a", L"a a a", L"a a a a", L"a a a a a", L"a a a a a a", L"a a a a a a a", L"a a a a a a a a"}, true},
      {L" ", {}, false},
  };
  for (const Row &row : rows) {
    const ProgramPaths got = ProgramPathsOf(row.line);
    EXPECT_EQ(row.paths, got.paths) << row.line.size();
    EXPECT_EQ(row.cut, got.cut) << row.line.size();
  }
}

TEST(ServerPaths, ShownAsTypedWithMarksNoPathHolds) {
  const std::pair<std::wstring, std::wstring> rows[] = {
      {L"Z:\\work\\build\\x86_64\\simserver\\simserver.dll", L"Z:\\work\\build\\x86_64\\simserver\\simserver.dll"},
      {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
      {L"C:\\a\x1B]0;t\x07.dll", L"C:\\a<U+001B>]0;t<U+0007>.dll"},
      {L"C:\\Pu\x200Bmp.dll", L"C:\\Pu<U+200B>mp.dll"},
      {L"C:\\<U+0041>.dll", L"C:\\<U+003C>U+0041>.dll"},
  };
  for (const auto &row : rows) EXPECT_EQ(row.second, ShownPath(row.first));
}

// What the stages saw of the fixed scenario's seven tags, all well.
WalkSeen Healthy() {
  WalkSeen seen{};
  seen.subject = L"the monitor";
  seen.name = L"OPC.Brenvick.1";
  seen.browse.listed = seen.browse.filled = seen.tags = seen.registered = seen.records = 7;
  seen.groupCreated = 1;
  seen.qualities = {{L"good", 7}};
  seen.state = 1;
  return seen;
}

struct Outcome {
  const char *what;
  Decision (*decide)(const WalkSeen &);
  void (*stage)(WalkSeen &);
  std::wstring line;     // in the stage's last line
  std::wstring verdict;  // in the verdict; empty: the walk goes on
  std::wstring never;    // in neither
  int status;
};

TEST(Decisions, EachStageGivesItsLineVerdictAndStatus) {
  const Outcome rows[] = {
      {"the second browse fails alone: the browse says so", DecideBrowse,
       [](WalkSeen &s) { s.browse.secondBrowse = kFail, s.browse.filled = 0; },
       L"7 tags listed, then the second flat browse fails with 0x80004005", L"", L"ok", 0},
      {"... and the first nameless tag ends the registration, not AddItems", DecideItems,
       [](WalkSeen &s) { s.browse.secondBrowse = kFail, s.browse.filled = 0, s.registered = 0, s.nameless = 1,
                         s.failedTag = L"tag 1 of 7"; },
       L"tag 1 of 7 has no name", L"stops right after ENTER (\"group released\", \"server released\"): the second "
       L"flat browse fails with 0x80004005", L"rejects", 1},
      {"the second browse delivers fewer names", DecideItems,
       [](WalkSeen &s) { s.browse.filled = s.registered = 3, s.nameless = 1, s.failedTag = L"tag 4 of 7"; },
       L"tag 4 of 7 has no name (the browse line says why)",
       L"the second flat browse delivers only 3 of the 7 names, so tag 4 of 7 has no name", L"rejects", 1},
      {"no memory for the table is said as such", DecideBrowse, [](WalkSeen &s) { s.browse.noMemory = 1; },
       L"no memory for the table", L"lists 7 tags and polls screens without records", L"longer", 1},
      {"a longer name in the second browse", DecideBrowse, [](WalkSeen &s) { s.browse.longerName = 1; },
       L"longer than any of the first", L"polls screens without records", L"memory", 1},
      {"IOPCSyncIO granted for one read, refused for the other: records, status 0", DecideReads,
       [](WalkSeen &s) { s.tags = s.registered = 2, s.records = 1, s.qualities = {{L"good", 1}},
                         s.syncRefused = {1, L"tag 2 of 2", kNoInterface}; },
       L"1 record a screen", L"polls 1 record a screen, qualities 1 good; the group refuses IOPCSyncIO for 1 of 2",
       L"without records", 0},
      {"IOPCSyncIO refused for every read", DecideReads,
       [](WalkSeen &s) { s.records = 0, s.qualities.clear(), s.syncRefused = {7, L"tag 1 of 7", kNoInterface}; },
       L"the group offers no IOPCSyncIO", L"polls screens without records: the group offers no IOPCSyncIO", L"", 1},
      {"a server's text ending in CR LF, the system's own: once, one line", DecideGroup,
       [](WalkSeen &s) { s.group = kFail, s.textOf = kFail, s.serverText = L"Unspecified error\r\n"; },
       L"AddGroup \"grp 1\": 0x80004005 (E_FAIL: Unspecified error)", L"refuses the group with 0x80004005 (E_FAIL: "
       L"Unspecified error)", L"system:", 1},
      {"the server dies in GetStatus, which only opcdiag calls", DecideStatus,
       [](WalkSeen &s) { s.statusCode = kCallFailed; }, L"which only opcdiag makes", L"", L"browse", 0},
  };
  for (const Outcome &row : rows) {
    WalkSeen seen = Healthy();
    row.stage(seen);
    const Decision decision = row.decide(seen);
    ASSERT_FALSE(decision.lines.empty()) << row.what;
    const std::wstring &line = decision.lines.back().fact;
    EXPECT_NE(std::wstring::npos, line.find(row.line)) << row.what << "\n got line " << std::string(line.begin(), line.end());
    EXPECT_EQ(row.verdict.empty(), decision.verdict.empty()) << row.what;
    EXPECT_NE(std::wstring::npos, decision.verdict.find(row.verdict))
        << row.what << "\n got verdict " << std::string(decision.verdict.begin(), decision.verdict.end());
    if (!row.never.empty()) {
      EXPECT_EQ(std::wstring::npos, (line + decision.verdict).find(row.never)) << row.what;
    }
    EXPECT_EQ(std::wstring::npos, (line + decision.verdict).find(L"\\x0D")) << row.what;
    // One decision: records shown is status 0, and nothing else is.
    EXPECT_EQ(row.status, decision.status) << row.what;
  }
}

TEST(Decisions, TeardownAndCallsOnlyOpcdiagMakesKeepTheMonitorsOutcome) {
  WalkSeen seen = Healthy();
  EXPECT_TRUE(RemovesItems(seen));
  seen.registered = 1;  // a rejected tag, or a stop during the registration
  EXPECT_FALSE(RemovesItems(seen));
  seen = Healthy();
  seen.handlesMissing = 1;
  EXPECT_FALSE(RemovesItems(seen));

  seen = Healthy();
  seen.diedIn = L"IOPCServer::GetStatus";
  const std::wstring polls = L"the monitor polls 7 records a screen, qualities 7 good";
  EXPECT_EQ(polls + L"; then the server's process ended in IOPCServer::GetStatus, a call only opcdiag makes",
            FinalVerdict(seen, polls, 0));
  const ServerCall status = {"status", L"IOPCServer::GetStatus", false, 60}, read = {"reads", L"IOPCSyncIO::Read", true, 60};
  EXPECT_EQ(polls + L"; then the server gives no answer to IOPCServer::GetStatus within 60 s, a call the monitor does "
                    L"not make",
            HungVerdict(status, status.name, L"the monitor", polls, L""));
  EXPECT_EQ(L"the monitor hangs in IOPCSyncIO::Read of tag 1 of 7: no answer within 60 s; opcdiag ends without the "
            L"teardown: the group \"grp 1\" and its 7 items stay on the server until the server's own clean-up",
            HungVerdict(read, L"IOPCSyncIO::Read of tag 1 of 7", L"the monitor", L"", LeftBehind(true, true, 7)));
}

}  // namespace
