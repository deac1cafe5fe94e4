// The group stage against a fake server and group: the group's creation
// parameters, one item definition per AddItems call, what ends the
// registration, the stage run in between, the teardown order, and what a
// failing server hands back all the same freed or released.
#include "group.h"

#include <string>
#include <vector>

#include "com_test.h"
#include "fake_group.h"
#include "fake_server.h"
#include "test_tables.h"

namespace {

using ::testing::_;
using ::testing::AllOf;
using ::testing::DoAll;
using ::testing::DoDefault;
using ::testing::Eq;
using ::testing::Field;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::IsNull;
using ::testing::Mock;
using ::testing::NotNull;
using ::testing::Pointee;
using ::testing::Return;
using ::testing::SetArgPointee;
using ::testing::StrEq;
using ::testing::StrictMock;

using Handles = std::vector<OPCHANDLE>;

// The one definition RegisterItem passes for tag `id`.
auto DefinesItem(const wchar_t *id) {
  return Pointee(AllOf(Field("szAccessPath", &OPCITEMDEF::szAccessPath, IsNull()),
                       Field("szItemID", &OPCITEMDEF::szItemID, AllOf(NotNull(), StrEq(id))),
                       Field("bActive", &OPCITEMDEF::bActive, TRUE), Field("hClient", &OPCITEMDEF::hClient, 1u),
                       Field("dwBlobSize", &OPCITEMDEF::dwBlobSize, 0u),
                       Field("pBlob", &OPCITEMDEF::pBlob, IsNull()),
                       Field("vtRequestedDataType", &OPCITEMDEF::vtRequestedDataType, VT_I2),
                       Field("wReserved", &OPCITEMDEF::wReserved, 0)));
}

// What the stand-in for the polling stage saw.
struct StageRecord {
  int runs = 0;
  IOPCItemMgt *itemMgt = nullptr;
  LONG names = -1;
  Handles handles;
  ULONG references = 0;
  std::wstring printedBefore;
};

class GroupTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    stage_ = StageRecord();
    server.group = &group;
  }

  static void RecordStage(IOPCItemMgt *itemMgt, const TagNameTable &names, const ItemHandleTable &handles) {
    ++stage_.runs;
    stage_.itemMgt = itemMgt;
    stage_.names = names.count;
    stage_.handles.assign(handles.handles, handles.handles + handles.count);
    stage_.references = RefCount(itemMgt);
    stage_.printedBefore = Printed();
  }

  auto &ExpectAddGroup() {
    return EXPECT_CALL(server, AddGroup(StrEq(L"grp 1"), TRUE, 0u, 1u, IsNull(), IsNull(), 0u, NotNull(), NotNull(),
                                        Eq(IID_IOPCItemMgt), NotNull()));
  }
  // Expects the group's removal and notes the group's references and the
  // output at that moment.
  void ExpectRemoveGroup() {
    EXPECT_CALL(server, RemoveGroup(server.groupHandle, FALSE)).WillOnce(Invoke([this](OPCHANDLE handle, BOOL force) {
      referencesAtRemoval_ = RefCount(&group);
      printedAtRemoval_ = Printed();
      return server.DefaultRemoveGroup(handle, force);
    }));
  }

  // Expects RemoveItems of `count` items and keeps the handles it was given.
  void ExpectRemoveItems(DWORD count, Handles *removed) {
    EXPECT_CALL(group, RemoveItems(count, _, NotNull()))
        .WillOnce(Invoke([this, removed](DWORD n, OPCHANDLE *handles, HRESULT **errors) {
          if (handles != nullptr) removed->assign(handles, handles + n);
          return group.DefaultRemoveItems(n, handles, errors);
        }));
  }

  static StageRecord stage_;
  ULONG referencesAtRemoval_ = 99;
  std::wstring printedAtRemoval_ = L"<not removed>";
  StrictMock<FakeServer> server;
  StrictMock<FakeGroup> group;
};

StageRecord GroupTest::stage_;

TEST_F(GroupTest, GroupIsCreatedWithTheMonitorsParameters) {
  ExpectAddGroup();
  IOPCItemMgt *itemMgt = nullptr;
  OPCHANDLE handle = 0;

  EXPECT_EQ(1, CreateMonitorGroup(&server, &itemMgt, &handle));
  EXPECT_EQ(static_cast<IOPCItemMgt *>(&group), itemMgt);
  EXPECT_EQ(server.groupHandle, handle);
  EXPECT_REFS(&group, 1u);
  EXPECT_REFS(&server, 0u);
  if (itemMgt != nullptr) itemMgt->Release();
}

TEST_F(GroupTest, GroupNotCreatedHoldsNothingAndEndsTheStageSilently) {
  // Failing; failing with the group handed out all the same (a reference
  // the monitor must release); S_OK without a group.
  server.handOutThenFail = E_OUTOFMEMORY;
  ExpectAddGroup()
      .WillOnce(Return(E_FAIL))
      .WillOnce(DoDefault())
      .WillOnce(DoAll(SetArgPointee<10>(nullptr), Return(S_OK)))
      .WillOnce(DoDefault())
      .WillOnce(DoAll(SetArgPointee<10>(nullptr), Return(S_OK)));
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE("AddGroup answer " + std::to_string(i + 1));
    IOPCItemMgt *itemMgt = &group;
    OPCHANDLE handle = 0xBAD;
    EXPECT_EQ(0, CreateMonitorGroup(&server, &itemMgt, &handle));
    EXPECT_EQ(nullptr, itemMgt);
    EXPECT_EQ(0u, handle);
    EXPECT_REFS(&group, 0u);
  }

  TestNameTable names({L"A"});
  RunGroupStage(&server, names.table(), RecordStage);
  RunGroupStage(&server, names.table(), RecordStage);
  EXPECT_EQ(0, stage_.runs);
  EXPECT_EQ(L"", Printed());
  EXPECT_REFS(&group, 0u);
}

TEST_F(GroupTest, RegisterItemAddsOneDefinitionAndFreesWhatItGets) {
  EXPECT_CALL(group, AddItems(1u, DefinesItem(L"Tag.A"), NotNull(), NotNull()))
      .WillOnce(Invoke([this](DWORD n, OPCITEMDEF *items, OPCITEMRESULT **results, HRESULT **errors) {
        EXPECT_EQ(nullptr, *results) << "results out-pointer not cleared beforehand";
        EXPECT_EQ(nullptr, *errors) << "errors out-pointer not cleared beforehand";
        return group.DefaultAddItems(n, items, results, errors);
      }));
  const OPCHANDLE expected = group.nextHandle;
  OPCHANDLE handle = 0;

  EXPECT_EQ(1, RegisterItem(&group, L"Tag.A", &handle));
  EXPECT_EQ(expected, handle);
  EXPECT_EQ(0u, Ledger().Live());
  EXPECT_REFS(&group, 0u);
}

TEST_F(GroupTest, FiftyTagsMakeFiftyCallsOfOneDefinitionEach) {
  TestNameTable names = TestNameTable::Numbered(L"Tag.", 50);
  Handles expected, removed;
  {
    InSequence order;
    ExpectAddGroup();
    for (LONG i = 0; i < 50; ++i) {
      EXPECT_CALL(group, AddItems(1u, DefinesItem(names.table().entries[i]), NotNull(), NotNull()));
      expected.push_back(group.nextHandle + static_cast<OPCHANDLE>(i));
    }
    ExpectRemoveItems(50, &removed);
    ExpectRemoveGroup();
  }

  RunGroupStage(&server, names.table(), RecordStage);
  EXPECT_EQ(1, stage_.runs);
  EXPECT_EQ(expected, stage_.handles);
  EXPECT_EQ(expected, removed);
}

TEST_F(GroupTest, RegistrationStopsAtTheFirstRejectedTag) {
  TestNameTable names({L"A", L"B", L"C"});
  for (bool callFails : {false, true}) {
    SCOPED_TRACE(callFails ? "AddItems failing" : "per-item error with S_FALSE");
    group.rejected = {L"B"};
    const OPCHANDLE first = group.nextHandle;
    {
      InSequence order;
      EXPECT_CALL(group, AddItems(1u, DefinesItem(L"A"), NotNull(), NotNull()));
      if (callFails) {
        EXPECT_CALL(group, AddItems(1u, DefinesItem(L"B"), NotNull(), NotNull())).WillOnce(Return(E_FAIL));
      } else {
        EXPECT_CALL(group, AddItems(1u, DefinesItem(L"B"), NotNull(), NotNull()));
      }
    }
    OPCHANDLE storage[3] = {};
    ItemHandleTable handles = {3, storage};

    EXPECT_EQ(0, RegisterItems(&group, names.table(), handles));
    EXPECT_EQ((Handles{first, 0, 0}), Handles(storage, storage + 3));
    EXPECT_EQ(0u, Ledger().Live());
    Mock::VerifyAndClearExpectations(&group);
  }
}

// A stop request the test raises from inside a server call.
bool g_stopRaised = false;
int StopRaised() { return g_stopRaised ? 1 : 0; }

TEST_F(GroupTest, AStopBetweenTwoAddItemsCallsEndsTheStageAsARejectedTagDoes) {
  TestNameTable names({L"A", L"B", L"C"});
  for (bool beforeTheFirst : {false, true}) {
    SCOPED_TRACE(beforeTheFirst ? "stop before the first call" : "stop during the second call");
    g_stopRaised = beforeTheFirst;
    {
      InSequence order;
      ExpectAddGroup();
      if (!beforeTheFirst) {
        EXPECT_CALL(group, AddItems(1u, DefinesItem(L"A"), NotNull(), NotNull()));
        EXPECT_CALL(group, AddItems(1u, DefinesItem(L"B"), NotNull(), NotNull()))
            .WillOnce(Invoke([this](DWORD n, OPCITEMDEF *items, OPCITEMRESULT **results, HRESULT **errors) {
              g_stopRaised = true;
              return group.DefaultAddItems(n, items, results, errors);
            }));
      }
      // No call for C, no RemoveItems: the added items leave with the group.
      ExpectRemoveGroup();
    }

    RunGroupStage(&server, names.table(), RecordStage, StopRaised);
    EXPECT_EQ(0, stage_.runs);
    EXPECT_EQ(L"group released\n", Printed());
    EXPECT_EQ(0u, Ledger().Live());
    EXPECT_REFS(&group, 0u);
    Mock::VerifyAndClearExpectations(&group);
    Mock::VerifyAndClearExpectations(&server);
    ClearPrinted();
  }
}

TEST_F(GroupTest, RejectedTagSkipsItemsOkTheStageAndTheRemoval) {
  TestNameTable names({L"A", L"B", L"C"});
  for (bool callFails : {false, true}) {
    SCOPED_TRACE(callFails ? "AddItems failing" : "per-item error with S_FALSE");
    group.rejected = {L"B"};
    {
      InSequence order;
      ExpectAddGroup();
      EXPECT_CALL(group, AddItems(1u, DefinesItem(L"A"), NotNull(), NotNull()));
      if (callFails) {
        EXPECT_CALL(group, AddItems(1u, DefinesItem(L"B"), NotNull(), NotNull())).WillOnce(Return(E_FAIL));
      } else {
        EXPECT_CALL(group, AddItems(1u, DefinesItem(L"B"), NotNull(), NotNull()));
      }
      ExpectRemoveGroup();
    }

    RunGroupStage(&server, names.table(), RecordStage);
    EXPECT_EQ(0, stage_.runs);
    EXPECT_EQ(0u, referencesAtRemoval_);
    EXPECT_EQ(L"group released\n", Printed());
    EXPECT_REFS(&group, 0u);
    Mock::VerifyAndClearExpectations(&group);
    Mock::VerifyAndClearExpectations(&server);
    ClearPrinted();
  }
}

TEST_F(GroupTest, NoTagsRunTheStageAndRemoveZeroItems) {
  TestNameTable names({});
  Handles removed{0xBAD};
  {
    InSequence order;
    ExpectAddGroup();
    ExpectRemoveItems(0, &removed);
    ExpectRemoveGroup();
  }

  RunGroupStage(&server, names.table(), RecordStage);
  EXPECT_EQ(1, stage_.runs);
  EXPECT_EQ(0, stage_.names);
  EXPECT_EQ(L"Items OK\n", stage_.printedBefore);
  EXPECT_EQ(Handles{}, removed);
  EXPECT_EQ(L"Items OK\ngroup released\n", Printed());
}

TEST_F(GroupTest, StageRunsBetweenRegistrationAndRemovalOfEveryItem) {
  TestNameTable names({L"A", L"B", L"C"});
  const OPCHANDLE first = group.nextHandle;
  const Handles expected{first, first + 1, first + 2};
  Handles removed;
  {
    InSequence order;
    ExpectAddGroup();
    EXPECT_CALL(group, AddItems(1u, DefinesItem(L"A"), NotNull(), NotNull()));
    EXPECT_CALL(group, AddItems(1u, DefinesItem(L"B"), NotNull(), NotNull()));
    EXPECT_CALL(group, AddItems(1u, DefinesItem(L"C"), NotNull(), NotNull()));
    ExpectRemoveItems(3, &removed);
    ExpectRemoveGroup();
  }

  RunGroupStage(&server, names.table(), RecordStage);
  EXPECT_EQ(1, stage_.runs);
  EXPECT_EQ(static_cast<IOPCItemMgt *>(&group), stage_.itemMgt);
  EXPECT_EQ(3, stage_.names);
  EXPECT_EQ(expected, stage_.handles);
  EXPECT_EQ(1u, stage_.references);
  EXPECT_EQ(L"Items OK\n", stage_.printedBefore);
  EXPECT_EQ(expected, removed);
  EXPECT_EQ(0u, referencesAtRemoval_);
  EXPECT_EQ(L"Items OK\n", printedAtRemoval_);
  EXPECT_TRUE(group.items.empty());
  EXPECT_EQ(0u, Ledger().Live()) << "RemoveItems' errors array is freed";
  EXPECT_EQ(L"Items OK\ngroup released\n", Printed());
  EXPECT_REFS(&group, 0u);
  EXPECT_REFS(&server, 0u);
}

TEST_F(GroupTest, GroupReferenceIsReleasedBeforeTheGroupIsRemoved) {
  group.AddRef();  // as AddGroup handed it out
  ExpectRemoveGroup();

  DeleteMonitorGroup(&server, &group, server.groupHandle);
  EXPECT_EQ(0u, referencesAtRemoval_);
  EXPECT_EQ(L"", printedAtRemoval_);
  EXPECT_EQ(L"group released\n", Printed());
  EXPECT_REFS(&group, 0u);
}

TEST_F(GroupTest, NullNameIsNotRegisteredAndNotSentToTheServer) {
  TestNameTable names({L"A", nullptr, L"C"});
  EXPECT_CALL(group, AddItems(1u, DefinesItem(L"A"), NotNull(), NotNull()));
  const OPCHANDLE first = group.nextHandle;
  OPCHANDLE storage[3] = {};
  ItemHandleTable handles = {3, storage};

  EXPECT_EQ(0, RegisterItems(&group, names.table(), handles));
  EXPECT_EQ((Handles{first, 0, 0}), Handles(storage, storage + 3));
}

TEST_F(GroupTest, SuccessWithoutResultsOrErrorsIsAFailedRegistration) {
  EXPECT_CALL(group, AddItems(1u, DefinesItem(L"A"), NotNull(), NotNull()))
      .WillOnce(Invoke([](DWORD, OPCITEMDEF *, OPCITEMRESULT **results, HRESULT **errors) {
        *results = nullptr;
        *errors = TaskArray<HRESULT>(1);
        return S_OK;
      }))
      .WillOnce(Invoke([](DWORD, OPCITEMDEF *, OPCITEMRESULT **results, HRESULT **errors) {
        *results = TaskArray<OPCITEMRESULT>(1);
        (*results)[0].hServer = 0x777;
        *errors = nullptr;
        return S_OK;
      }));
  for (const char *missing : {"results", "errors"}) {
    SCOPED_TRACE(std::string("no ") + missing);
    OPCHANDLE handle = 0xBAD;
    EXPECT_EQ(0, RegisterItem(&group, L"A", &handle));
    EXPECT_EQ(0xBADu, handle);
    EXPECT_EQ(0u, Ledger().Live()) << "the array handed back is freed";
  }
}

TEST_F(GroupTest, BlobOfTheResultIsFreed) {
  BYTE *blob = nullptr;
  EXPECT_CALL(group, AddItems(1u, DefinesItem(L"A"), NotNull(), NotNull()))
      .WillOnce(Invoke([&blob](DWORD, OPCITEMDEF *, OPCITEMRESULT **results, HRESULT **errors) {
        *results = TaskArray<OPCITEMRESULT>(1);
        (*results)[0].hServer = 0x321;
        (*results)[0].dwBlobSize = 8;
        (*results)[0].pBlob = blob = TaskArray<BYTE>(8);
        *errors = TaskArray<HRESULT>(1);
        return S_OK;
      }));
  OPCHANDLE handle = 0;

  EXPECT_EQ(1, RegisterItem(&group, L"A", &handle));
  EXPECT_EQ(0x321u, handle);
  ASSERT_NE(nullptr, blob);
  EXPECT_FALSE(Ledger().IsLive(blob)) << "the blob is still allocated";
  EXPECT_EQ(0u, Ledger().Live());
}

TEST_F(GroupTest, FailingCallsThatHandBackAnywayLeakNothing) {
  // AddItems failing with results (a blob in each) and errors handed back;
  // RemoveItems failing with its errors handed back.
  group.blobSize = 16;
  group.handOutThenFail = E_FAIL;
  EXPECT_CALL(group, AddItems(1u, DefinesItem(L"A"), NotNull(), NotNull()));
  OPCHANDLE handle = 0xBAD;
  const size_t allocated = Ledger().Allocated();

  EXPECT_EQ(0, RegisterItem(&group, L"A", &handle));
  EXPECT_EQ(0xBADu, handle);
  EXPECT_EQ(allocated + 3, Ledger().Allocated()) << "results, errors and a blob handed back";
  EXPECT_EQ(0u, Ledger().Live()) << "what the failing AddItems handed back is freed";

  OPCHANDLE storage[1] = {group.AddItem(L"B")};
  EXPECT_CALL(group, RemoveItems(1u, Eq(storage), NotNull()));
  UnregisterItems(&group, ItemHandleTable{1, storage});
  EXPECT_EQ(allocated + 4, Ledger().Allocated()) << "errors handed back";
  EXPECT_EQ(0u, Ledger().Live()) << "what the failing RemoveItems handed back is freed";
  EXPECT_REFS(&group, 0u);
}

TEST_F(GroupTest, UnregisterRemovesTheWholeTableAndFreesTheErrors) {
  const OPCHANDLE first = group.AddItem(L"A");
  const OPCHANDLE second = group.AddItem(L"B");
  OPCHANDLE storage[2] = {first, second};
  const ItemHandleTable handles = {2, storage};
  EXPECT_CALL(group, RemoveItems(2u, Eq(storage), NotNull()))
      .WillOnce(Invoke(&group, &FakeGroup::DefaultRemoveItems))
      .WillOnce(DoAll(SetArgPointee<2>(nullptr), Return(S_OK)));
  const size_t freed = Ledger().Freed();

  UnregisterItems(&group, handles);
  EXPECT_TRUE(group.items.empty());
  EXPECT_EQ(freed + 1, Ledger().Freed());
  EXPECT_EQ(0u, Ledger().Live());

  UnregisterItems(&group, handles);  // success without an errors array: nothing to free
  EXPECT_REFS(&group, 0u);
}

// What opcdiag names beside the 1/0: AddGroup's result, and AddItems'
// result apart from the tag's own entry in its errors.
TEST_F(GroupTest, VariantsHandBackTheCodesBehindTheirAnswer) {
  server.handOutThenFail = E_OUTOFMEMORY;
  ExpectAddGroup().WillOnce(DoDefault()).WillOnce(DoAll(SetArgPointee<10>(nullptr), Return(S_OK)));
  for (HRESULT expected : {E_OUTOFMEMORY, E_NOINTERFACE}) {
    IOPCItemMgt *itemMgt = nullptr;
    OPCHANDLE handle = 0;
    HRESULT result = S_OK;
    EXPECT_EQ(0, CreateMonitorGroup(&server, &itemMgt, &handle, &result));
    EXPECT_EQ(expected, result) << "got 0x" << std::hex << result;
  }

  group.rejected = {L"B"};
  EXPECT_CALL(group, AddItems(1u, _, NotNull(), NotNull()))
      .WillOnce(DoDefault())
      .WillOnce(DoDefault())
      .WillOnce(Return(E_FAIL))
      .WillOnce(Invoke([](DWORD, OPCITEMDEF *, OPCITEMRESULT **results, HRESULT **errors) {
        *results = nullptr;
        *errors = TaskArray<HRESULT>(1);
        return S_OK;
      }));
  struct Row {
    const wchar_t *name;
    int registered;
    HRESULT call;
    HRESULT item;
  };
  for (const Row &row : {Row{L"A", 1, S_OK, S_OK}, Row{L"B", 0, S_FALSE, OPC_E_UNKNOWNITEMID},
                         Row{L"C", 0, E_FAIL, S_OK}, Row{L"D", 0, E_POINTER, S_OK}}) {
    OPCHANDLE handle = 0;
    HRESULT call = E_UNEXPECTED;
    HRESULT item = E_UNEXPECTED;
    EXPECT_EQ(row.registered, RegisterItem(&group, row.name, &handle, &call, &item));
    EXPECT_EQ(row.call, call) << "got 0x" << std::hex << call;
    EXPECT_EQ(row.item, item) << "got 0x" << std::hex << item;
  }
  EXPECT_EQ(1u, group.items.size());
}

}  // namespace
