// BrowseTagNames and FreeTagNameTable against a fake server: the two flat
// enumerations, what is printed, the table's layout, and what is released
// and freed on every path, also what a failing server hands back anyway.
#include "browse.h"

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "com_test.h"
#include "fake_enum_string.h"
#include "fake_server.h"

namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::DoDefault;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::NotNull;
using ::testing::Return;
using ::testing::SetArgPointee;
using ::testing::StrEq;
using ::testing::StrictMock;

const std::wstring kHeader = L"found the following tags:\n";

// The entries as text, "<null>" for an entry left empty.
NameList EntryTexts(const TagNameTable &table) {
  NameList texts;
  for (LONG i = 0; i < table.count; ++i) texts.push_back(table.entries[i] ? table.entries[i] : L"<null>");
  return texts;
}

// A Next that reports one name fetched but hands back none.
auto FetchedOneButNull() { return DoAll(SetArgPointee<1>(nullptr), SetArgPointee<2>(1ul), Return(S_OK)); }

class BrowseTest : public ComTest {
 protected:
  void TearDown() override {
    FreeTagNameTable(table);
    ComTest::TearDown();
  }

  // The browse calls, each with the arguments both enumerations must pass.
  auto &ExpectFlatBrowse() { return EXPECT_CALL(server, BrowseOPCItemIDs(OPC_FLAT, StrEq(L""), VT_EMPTY, 0, NotNull())); }

  StrictMock<FakeServer> server;
  TagNameTable table = {};
};

TEST_F(BrowseTest, MissingBrowseInterfaceGivesEmptyTableSilently) {
  server.names = {L"A"};
  size_t asked = 0;
  for (const NamedAnswer &answer : NO_INTERFACE_ANSWERS) {
    SCOPED_TRACE(answer.name);
    server.SetAnswer(IID_IOPCBrowseServerAddressSpace, answer.answer);
    table = BrowseTagNames(&server);
    EXPECT_EQ(0, table.count);
    EXPECT_EQ(nullptr, table.entries);
    EXPECT_EQ(L"", Printed());
    EXPECT_EQ(++asked, server.Queries(IID_IOPCBrowseServerAddressSpace));
    EXPECT_REFS(&server, 0u);
    FreeTagNameTable(table);
  }
}

TEST_F(BrowseTest, FailingFirstBrowsePrintsNothingAndStillMakesTheSecond) {
  StrictMock<FakeEnumString> second(NameList{L"A", L"B"}, "second enumerator");  // a count of 0 asks for no name
  server.HandOut(&second);
  ExpectFlatBrowse().WillOnce(Return(E_FAIL)).WillOnce(DoDefault());

  table = BrowseTagNames(&server);
  EXPECT_EQ(0, table.count);
  EXPECT_EQ(L"", Printed());
  EXPECT_REFS(&second, 0u);
  EXPECT_REFS(&server, 0u);
}

TEST_F(BrowseTest, FailingBrowsesThatHandOutAnEnumeratorAnywayReleaseItUnused) {
  server.names = {L"A", L"B"};
  server.handOutThenFail = E_FAIL;
  ExpectFlatBrowse().Times(2);

  table = BrowseTagNames(&server);
  EXPECT_EQ(0, table.count);
  EXPECT_EQ(L"", Printed());
  ASSERT_EQ(2u, server.EnumeratorsMade());
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_REFS(&server.MadeEnumerator(i), 0u);
    EXPECT_EQ(0u, server.MadeEnumerator(i).position) << "enumerator " << i + 1 << " was read";
  }
}

TEST_F(BrowseTest, BrowseSucceedingWithoutEnumeratorIsNoEnumeration) {
  // First without enumerator: nothing counted. Then a good first and a
  // second without enumerator: the count stays, the entries stay null.
  server.names = {L"A", L"B"};
  ExpectFlatBrowse()
      .WillOnce(DoAll(SetArgPointee<4>(nullptr), Return(S_OK)))
      .WillOnce(DoAll(SetArgPointee<4>(nullptr), Return(S_OK)))
      .WillOnce(DoDefault())
      .WillOnce(DoAll(SetArgPointee<4>(nullptr), Return(S_OK)));

  table = BrowseTagNames(&server);
  EXPECT_EQ(0, table.count);
  FreeTagNameTable(table);

  table = BrowseTagNames(&server);
  EXPECT_EQ((NameList{L"<null>", L"<null>"}), EntryTexts(table));
  EXPECT_REFS(&server, 0u);
}

TEST_F(BrowseTest, FailingSecondBrowseKeepsCountWithEveryEntryNull) {
  server.names = {L"Alpha", L"Be", L"Gam"};
  ExpectFlatBrowse().WillOnce(DoDefault()).WillOnce(Return(E_FAIL));

  table = BrowseTagNames(&server);
  EXPECT_EQ((NameList{L"<null>", L"<null>", L"<null>"}), EntryTexts(table));
  EXPECT_EQ(6, table.slotLength);
  EXPECT_EQ(kHeader + L"Alpha\nBe\nGam\n", Printed());
  EXPECT_REFS(&server.MadeEnumerator(0), 0u);
  EXPECT_REFS(&server, 0u);
}

TEST_F(BrowseTest, EmptyEnumerationPrintsHeaderOnly) {
  ExpectFlatBrowse().Times(2);  // the server answers S_FALSE with an empty enumerator

  table = BrowseTagNames(&server);
  EXPECT_EQ(0, table.count);
  EXPECT_EQ(kHeader, Printed());
  EXPECT_REFS(&server, 0u);
}

TEST_F(BrowseTest, SlotsHoldTheLongestNameAndAreZeroFilledBehindEachName) {
  server.names = {L"abc", L"defghij", L"klmno"};
  ExpectFlatBrowse().Times(2);

  table = BrowseTagNames(&server);
  ASSERT_EQ(3, table.count);
  ASSERT_EQ(8, table.slotLength);
  const std::wstring expected(L"abc\0\0\0\0\0defghij\0klmno\0\0\0", 24);
  EXPECT_EQ(expected, std::wstring(table.block, 24));
  for (LONG i = 0; i < 3; ++i) EXPECT_EQ(table.block + 8 * i, table.entries[i]) << "entry " << i;
}

TEST_F(BrowseTest, LongerNameInSecondEnumerationGivesEmptyTable) {
  NiceMock<FakeEnumString> first(NameList{L"abc", L"de"}, "first enumerator");
  NiceMock<FakeEnumString> second(NameList{L"abc", L"toolong"}, "second enumerator");
  server.HandOut(&first);
  server.HandOut(&second);
  ExpectFlatBrowse().Times(2);

  table = BrowseTagNames(&server);
  EXPECT_EQ(0, table.count);
  EXPECT_EQ(0, table.slotLength);
  EXPECT_EQ(nullptr, table.block);
  EXPECT_EQ(nullptr, table.entries);
  EXPECT_EQ(2u, second.position);
  EXPECT_EQ(0u, Ledger().Live()) << "every name received is freed";
  EXPECT_REFS(&first, 0u);
  EXPECT_REFS(&second, 0u);
  EXPECT_REFS(&server, 0u);
}

TEST_F(BrowseTest, SecondEnumerationIsAskedForNoMoreThanCountNames) {
  NiceMock<FakeEnumString> first(NameList{L"A", L"B"}, "first enumerator");
  StrictMock<FakeEnumString> second(NameList{L"A", L"B", L"C"}, "second enumerator");
  server.HandOut(&first);
  server.HandOut(&second);
  ExpectFlatBrowse().Times(2);
  EXPECT_CALL(second, Next(1, NotNull(), NotNull())).Times(2);

  table = BrowseTagNames(&server);
  EXPECT_EQ((NameList{L"A", L"B"}), EntryTexts(table));
  EXPECT_REFS(&second, 0u);
}

TEST_F(BrowseTest, NameHandedBackAsNullEndsTheEnumeration) {
  StrictMock<FakeEnumString> first(NameList{L"A", L"B"}, "first enumerator");
  StrictMock<FakeEnumString> second(NameList{L"A"}, "second enumerator");
  server.HandOut(&first);
  server.HandOut(&second);
  ExpectFlatBrowse().Times(2);
  EXPECT_CALL(first, Next(1, NotNull(), NotNull())).WillOnce(DoDefault()).WillOnce(FetchedOneButNull());
  EXPECT_CALL(second, Next(1, NotNull(), NotNull())).WillOnce(FetchedOneButNull());

  table = BrowseTagNames(&server);
  EXPECT_EQ((NameList{L"<null>"}), EntryTexts(table));
  EXPECT_EQ(kHeader + L"A\n", Printed());
  EXPECT_REFS(&first, 0u);
  EXPECT_REFS(&second, 0u);
}

TEST_F(BrowseTest, FailingNextOrOneFetchingOtherThanOneEndsTheEnumeration) {
  StrictMock<FakeEnumString> first(NameList{L"A", L"B", L"C"}, "first enumerator");
  StrictMock<FakeEnumString> second(NameList{L"A", L"B", L"C"}, "second enumerator");
  server.HandOut(&first);
  server.HandOut(&second);
  ExpectFlatBrowse().Times(2);
  // Both odd answers hand back a name all the same; it must not leak.
  EXPECT_CALL(first, Next(1, NotNull(), NotNull()))
      .WillOnce(DoDefault())
      .WillOnce(DoDefault())
      .WillOnce(Invoke([](ULONG, LPOLESTR *name, ULONG *fetched) {
        *name = TaskString(L"C");
        *fetched = 0;
        return E_FAIL;
      }));
  EXPECT_CALL(second, Next(1, NotNull(), NotNull()))
      .WillOnce(DoDefault())
      .WillOnce(Invoke([](ULONG, LPOLESTR *name, ULONG *fetched) {
        *name = TaskString(L"B");
        *fetched = 2;
        return S_OK;
      }));

  table = BrowseTagNames(&server);
  EXPECT_EQ((NameList{L"A", L"<null>"}), EntryTexts(table));
  EXPECT_EQ(kHeader + L"A\nB\n", Printed());
  EXPECT_EQ(0u, Ledger().Live());
}

TEST_F(BrowseTest, BothEnumerationsBrowseFlatAndTakeOneNameAtATime) {
  StrictMock<FakeEnumString> first(NameList{L"A", L"B"}, "first enumerator");
  StrictMock<FakeEnumString> second(NameList{L"A", L"B"}, "second enumerator");
  server.HandOut(&first);
  server.HandOut(&second);
  {
    InSequence order;
    EXPECT_CALL(server, BrowseOPCItemIDs(OPC_FLAT, StrEq(L""), VT_EMPTY, 0, NotNull()));
    EXPECT_CALL(first, Next(1, NotNull(), NotNull())).Times(3);  // A, B, end
    EXPECT_CALL(server, BrowseOPCItemIDs(OPC_FLAT, StrEq(L""), VT_EMPTY, 0, NotNull()));
    EXPECT_CALL(second, Next(1, NotNull(), NotNull())).Times(2);  // A, B, and no more
  }

  table = BrowseTagNames(&server);
  EXPECT_EQ((NameList{L"A", L"B"}), EntryTexts(table));
}

TEST_F(BrowseTest, PrintsEveryNameAsDeliveredUnderTheHeader) {
  server.names = {L"Temp_\u00B0C", L"\u540D\u524D", L"Line.1"};
  ExpectFlatBrowse().Times(2);

  table = BrowseTagNames(&server);
  EXPECT_EQ(kHeader + L"Temp_\u00B0C\n\u540D\u524D\nLine.1\n", Printed());
  EXPECT_EQ(server.names, EntryTexts(table));
}

TEST_F(BrowseTest, FreesEveryNameAndReleasesEnumeratorsAndBrowseInterface) {
  server.names = {L"A", L"B", L"C", L"D"};
  ExpectFlatBrowse().Times(2);
  const size_t allocated = Ledger().Allocated();
  const size_t freed = Ledger().Freed();

  table = BrowseTagNames(&server);
  EXPECT_EQ(allocated + 8, Ledger().Allocated());
  EXPECT_EQ(freed + 8, Ledger().Freed());
  EXPECT_EQ(0u, Ledger().Live());
  ASSERT_EQ(2u, server.EnumeratorsMade());
  EXPECT_REFS(&server.MadeEnumerator(0), 0u);
  EXPECT_REFS(&server.MadeEnumerator(1), 0u);
  EXPECT_EQ(1u, server.Queries(IID_IOPCBrowseServerAddressSpace));
  EXPECT_REFS(&server, 0u);
}

// A stop request the test raises from inside a server call.
bool g_stopRaised = false;
int StopRaised() { return g_stopRaised ? 1 : 0; }
auto RaiseStopThenDeliver(FakeEnumString &names) {
  return Invoke([&names](ULONG celt, LPOLESTR *rgelt, ULONG *fetched) {
    g_stopRaised = true;
    return names.DeliverNext(celt, rgelt, fetched);
  });
}

TEST_F(BrowseTest, AStopEndsTheBrowseBeforeTheNextNameWithAnEmptyTable) {
  // The strict enumerators take no call beyond the ones expected.
  const NameList all = {L"A", L"B", L"C"};
  for (int stopAt : {2, 4}) {
    SCOPED_TRACE("stop raised in name call " + std::to_string(stopAt) + " of the run");
    g_stopRaised = false;
    ClearPrinted();
    StrictMock<FakeEnumString> first(all, "first enumerator");
    StrictMock<FakeEnumString> second(all, "second enumerator");
    server.HandOut(&first);
    if (stopAt == 2) {
      ExpectFlatBrowse();
      EXPECT_CALL(first, Next(1, NotNull(), NotNull())).WillOnce(DoDefault()).WillOnce(RaiseStopThenDeliver(first));
    } else {
      server.HandOut(&second);
      ExpectFlatBrowse().Times(2);
      EXPECT_CALL(first, Next(1, NotNull(), NotNull())).Times(4);
      EXPECT_CALL(second, Next(1, NotNull(), NotNull())).WillOnce(RaiseStopThenDeliver(second));
    }

    table = BrowseTagNames(&server, StopRaised);
    EXPECT_EQ(0, table.count);
    EXPECT_EQ(nullptr, table.entries);
    EXPECT_EQ(stopAt == 2 ? kHeader + L"A\nB\n" : kHeader + L"A\nB\nC\n", Printed());
    EXPECT_EQ(0u, Ledger().Live()) << "every name received is freed";
    EXPECT_REFS(&first, 0u);
    EXPECT_REFS(&second, 0u);
    EXPECT_REFS(&server, 0u);
    ::testing::Mock::VerifyAndClearExpectations(&server);
    ::testing::Mock::VerifyAndClearExpectations(&first);
    ::testing::Mock::VerifyAndClearExpectations(&second);
  }
}

TEST_F(BrowseTest, BlockSizeRefusesWhatCannotBeRepresented) {
  size_t bytes = 99;
  EXPECT_EQ(1, TagBlockBytes(3, 8, &bytes));
  EXPECT_EQ(48u, bytes);
  EXPECT_EQ(1, TagBlockBytes(0, 1, &bytes));
  EXPECT_EQ(0u, bytes);
  bytes = 99;
  EXPECT_EQ(0, TagBlockBytes(-1, 1, &bytes));
  EXPECT_EQ(0u, bytes);
  EXPECT_EQ(1, TagBlockBytes(1, static_cast<size_t>(LONG_MAX), &bytes));
  EXPECT_EQ(0, TagBlockBytes(1, static_cast<size_t>(LONG_MAX) + 1, &bytes));
  // count x slotLength x 2 past SIZE_MAX needs a 32-bit size_t: 65536 slots
  // of 32768 characters are exactly 4 GiB, one character less still fits.
  // With a 64-bit size_t the largest table representable fits.
  if (sizeof(size_t) == 4) {
    EXPECT_EQ(0, TagBlockBytes(0x10000, 0x8000, &bytes));
    EXPECT_EQ(0u, bytes);
    EXPECT_EQ(1, TagBlockBytes(0x10000, 0x7FFF, &bytes));
    EXPECT_EQ(static_cast<size_t>(0xFFFE0000u), bytes);
  } else {
    const size_t longest = static_cast<size_t>(LONG_MAX);
    EXPECT_EQ(1, TagBlockBytes(LONG_MAX, longest, &bytes));
    EXPECT_EQ(longest * longest * sizeof(wchar_t), bytes);
  }
}

TEST_F(BrowseTest, FreeingEmptiesTheTable) {
  server.names = {L"A"};
  ExpectFlatBrowse().Times(2);

  table = BrowseTagNames(&server);
  FreeTagNameTable(table);
  EXPECT_EQ(0, table.count);
  EXPECT_EQ(nullptr, table.block);
  EXPECT_EQ(nullptr, table.entries);
}

// What opcdiag names beside the table: the request for the browse
// interface, each enumeration's result and how many names the first gave.
TEST_F(BrowseTest, VariantHandsBackEachStepsResult) {
  server.names = {L"A", L"B"};
  ExpectFlatBrowse().WillOnce(Return(E_FAIL)).WillOnce(Return(E_FAIL)).WillOnce(DoDefault()).WillOnce(
      Return(E_OUTOFMEMORY));
  BrowseResult seen = {};
  table = BrowseTagNames(&server, NeverStop, &seen);
  EXPECT_EQ(E_FAIL, seen.firstBrowse);
  EXPECT_EQ(0, seen.listed);
  FreeTagNameTable(table);
  table = BrowseTagNames(&server, NeverStop, &seen);
  EXPECT_EQ(S_OK, seen.firstBrowse);
  EXPECT_EQ(E_OUTOFMEMORY, seen.secondBrowse) << "got 0x" << std::hex << seen.secondBrowse;
  EXPECT_EQ(2, seen.listed);
  FreeTagNameTable(table);
  server.SetAnswer(IID_IOPCBrowseServerAddressSpace, Answer::SucceedNull);
  table = BrowseTagNames(&server, NeverStop, &seen);
  EXPECT_EQ(E_NOINTERFACE, seen.query) << "got 0x" << std::hex << seen.query;
  EXPECT_EQ(S_OK, seen.firstBrowse) << "no browse made";
  EXPECT_REFS(&server, 0u);
}

}  // namespace
