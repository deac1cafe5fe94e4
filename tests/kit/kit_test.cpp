// The kit's own checks: the ledger sees task memory (BSTRs included), and
// the fixture's end checks, the reference probe and the fakes' counters
// fail a test that leaks or over-releases, naming what and how much.
#include <gtest/gtest-spi.h>

#include <string>
#include <vector>

#include "com_test.h"
#include "fake_enum_string.h"
#include "fake_group.h"
#include "fake_server.h"

namespace {

class KitTest : public ComTest {};

// The fixture driven by hand, to watch its end checks fail.
class ProbeFixture : public ComTest {
 public:
  using ComTest::SetUp;
  using ComTest::TearDown;
  void TestBody() override {}
};

void OtherWriter(const wchar_t *, size_t) {}

TEST_F(KitTest, LedgerCountsTaskBlocksAndBstrs) {
  const size_t allocated = Ledger().Allocated();
  const size_t freed = Ledger().Freed();
  void *block = CoTaskMemAlloc(16);
  BSTR text = SysAllocString(L"text");
  EXPECT_EQ(allocated + 2, Ledger().Allocated());
  EXPECT_EQ(2u, Ledger().Live());
  EXPECT_TRUE(Ledger().IsLive(block));
  CoTaskMemFree(block);
  SysFreeString(text);
  EXPECT_EQ(freed + 2, Ledger().Freed());
  EXPECT_EQ(0u, Ledger().Live());
  EXPECT_FALSE(Ledger().IsLive(block));
}

// A stub frees on COM's threads while the test reads the account.
DWORD WINAPI AllocateAndFreeInWaves(void *) {
  void *blocks[256];
  for (int wave = 0; wave < 1000; ++wave) {
    for (void *&block : blocks) block = CoTaskMemAlloc(8);
    for (void *block : blocks) CoTaskMemFree(block);
  }
  return 0;
}

// Each account read whole: the blocks listed are the blocks counted.
bool DescriptionHoldsTogether(const std::string &text) {
  const size_t counted = std::stoul(text);
  size_t listed = 0;
  for (size_t at = text.find(" bytes)"); at != std::string::npos; at = text.find(" bytes)", at + 1)) ++listed;
  return listed == (counted < 8 ? counted : 8);
}

TEST_F(KitTest, LedgerIsReadWhileAnotherThreadAllocatesAndFrees) {
  HANDLE thread = CreateThread(nullptr, 0, AllocateAndFreeInWaves, nullptr, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  size_t reads = 0;
  size_t torn = 0;
  while (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
    ++reads;
    if (!DescriptionHoldsTogether(Ledger().DescribeLive())) ++torn;
  }
  CloseHandle(thread);
  EXPECT_EQ(0u, torn) << "of " << reads << " reads";
  EXPECT_EQ(0u, Ledger().Live()) << Ledger().DescribeLive();
  EXPECT_EQ(Ledger().Allocated(), Ledger().Freed());
}

TEST_F(KitTest, RefCountProbeLeavesTheCountAndReportsGotExpected) {
  FakeServer server;
  EXPECT_REFS(&server, 0u);
  EXPECT_NONFATAL_FAILURE(EXPECT_REFS(&server, 1u), "references of &server: got 0, expected 1");
  EXPECT_EQ(0, server.References());
}

TEST_F(KitTest, FakesAnswerQueryInterfaceAsTold) {
  FakeGroup group;
  IOPCSyncIO *sync = nullptr;
  EXPECT_HR(S_OK, group.QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void **>(&sync)));
  EXPECT_EQ(static_cast<IOPCSyncIO *>(&group), sync);
  EXPECT_REFS(&group, 1u);
  group.Release();

  group.SetAnswer(IID_IOPCSyncIO, Answer::Refuse);
  EXPECT_HR(E_NOINTERFACE, group.QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void **>(&sync)));
  EXPECT_EQ(nullptr, sync);
  group.SetAnswer(IID_IOPCSyncIO, Answer::SucceedNull);
  EXPECT_HR(S_OK, group.QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void **>(&sync)));
  EXPECT_EQ(nullptr, sync);
  EXPECT_REFS(&group, 0u);
  group.SetAnswer(IID_IOPCSyncIO, Answer::RefuseHandingOut);
  EXPECT_HR(E_NOINTERFACE, group.QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void **>(&sync)));
  EXPECT_EQ(static_cast<IOPCSyncIO *>(&group), sync);
  EXPECT_REFS(&group, 1u);
  group.Release();
  EXPECT_EQ(4u, group.Queries(IID_IOPCSyncIO));
}

TEST(KitEndChecks, OverReleaseAndDestructionWithReferencesFail) {
  FakeGroup group;
  EXPECT_NONFATAL_FAILURE(group.Release(), "fake group released with no reference held");
  group.AddRef();
  EXPECT_NONFATAL_FAILURE(
      {
        FakeEnumString enumerator;
        enumerator.AddRef();
      },
      "fake enumerator destroyed holding references: got 1, expected 0");
}

TEST(KitEndChecks, FixtureFailsALeakedTaskBlock) {
  ProbeFixture probe;
  probe.SetUp();
  void *block = CoTaskMemAlloc(8);
  EXPECT_NONFATAL_FAILURE(probe.TearDown(), "task memory at the end of the test: got 1 block:");
  CoTaskMemFree(block);
}

// The failures a probe's TearDown reports, kept from the running test.
std::vector<std::string> TearDownFailures(ProbeFixture &probe) {
  ::testing::TestPartResultArray results;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
    probe.TearDown();
  }
  std::vector<std::string> failures;
  for (int i = 0; i < results.size(); ++i) failures.push_back(results.GetTestPartResult(i).message());
  return failures;
}

TEST(KitEndChecks, ALeakFailsOnlyItsOwnTestAndLaterOnesStillCatchTheirs) {
  ProbeFixture leaking;
  leaking.SetUp();
  void *leaked = CoTaskMemAlloc(8);
  EXPECT_NONFATAL_FAILURE(leaking.TearDown(), "task memory at the end of the test: got 1 block:");

  ProbeFixture clean;
  clean.SetUp();
  CoTaskMemFree(CoTaskMemAlloc(4));
  EXPECT_EQ(std::vector<std::string>{}, TearDownFailures(clean));

  ProbeFixture leakingToo;
  leakingToo.SetUp();
  void *own = CoTaskMemAlloc(4);
  const std::vector<std::string> failures = TearDownFailures(leakingToo);
  ASSERT_EQ(1u, failures.size());
  EXPECT_NE(std::string::npos, failures[0].find("got 1 block:")) << failures[0];
  CoTaskMemFree(own);
  CoTaskMemFree(leaked);

  // With every block back, the spy is revoked again.
  ProbeFixture last;
  last.SetUp();
  EXPECT_EQ(std::vector<std::string>{}, TearDownFailures(last));
  EXPECT_HR(CO_E_OBJNOTREG, CoRevokeMallocSpy());
}

TEST(KitEndChecks, FixtureFailsAFakeLeftWithAReference) {
  ProbeFixture probe;
  probe.SetUp();
  FakeServer server;
  server.AddRef();
  EXPECT_NONFATAL_FAILURE(probe.TearDown(), "fake server at the end of the test: got 1 references, expected 0");
  server.Release();
}

TEST(KitEndChecks, FixtureFailsAReplacedOutputWriter) {
  ProbeFixture probe;
  probe.SetUp();
  SetStandardOutputWriter(OtherWriter);
  EXPECT_NONFATAL_FAILURE(probe.TearDown(), "standard output writer at the end of the test");
}

}  // namespace
