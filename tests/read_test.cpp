// ReadItemSample against a fake group: the sync interface asked for and
// released per read, the exact Read arguments, what is copied into the
// caller's sample and what is freed, on success and on every failure, also
// where a failing server hands things back all the same.
#include "read.h"

#include <string>

#include "com_test.h"
#include "fake_group.h"
#include "group.h"

namespace {

using ::testing::_;
using ::testing::DoDefault;
using ::testing::Field;
using ::testing::Invoke;
using ::testing::NotNull;
using ::testing::Pointee;
using ::testing::Return;
using ::testing::StrictMock;

const FILETIME kMarkTime = {0x11111111, 0x22222222};
const WORD kMarkQuality = 0x5A5A;

// The caller's sample before a read: an empty value, marked quality and time.
ItemSample MarkedSample() {
  ItemSample sample;
  VariantInit(&sample.value);
  sample.quality = kMarkQuality;
  sample.timeStamp = kMarkTime;
  return sample;
}

void ExpectUnread(const ItemSample &sample) {
  EXPECT_EQ(VT_EMPTY, sample.value.vt);
  EXPECT_EQ(kMarkQuality, sample.quality);
  EXPECT_EQ(kMarkTime.dwLowDateTime, sample.timeStamp.dwLowDateTime);
  EXPECT_EQ(kMarkTime.dwHighDateTime, sample.timeStamp.dwHighDateTime);
}

class ReadTest : public ComTest {};

TEST_F(ReadTest, GroupWithoutSyncIOReadsNothing) {
  StrictMock<FakeGroup> group;
  const OPCHANDLE handle = group.AddItem(L"A");
  size_t asked = 0;
  for (const NamedAnswer &answer : NO_INTERFACE_ANSWERS) {
    SCOPED_TRACE(answer.name);
    group.SetAnswer(IID_IOPCSyncIO, answer.answer);
    ItemSample sample = MarkedSample();
    EXPECT_EQ(0, ReadItemSample(&group, handle, sample));
    ExpectUnread(sample);
    EXPECT_EQ(++asked, group.Queries(IID_IOPCSyncIO));
    EXPECT_REFS(&group, 0u);
  }
}

TEST_F(ReadTest, ReadAsksTheCacheForTheOneHandle) {
  StrictMock<FakeGroup> group;
  group.nextHandle = 0x4242;
  const OPCHANDLE handle = group.AddItem(L"A");
  EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(0x4242u), NotNull(), NotNull()))
      .WillOnce(Invoke([&group](OPCDATASOURCE source, DWORD n, OPCHANDLE *handles, OPCITEMSTATE **states,
                                HRESULT **errors) {
        EXPECT_EQ(nullptr, *states) << "states out-pointer not cleared beforehand";
        EXPECT_EQ(nullptr, *errors) << "errors out-pointer not cleared beforehand";
        return group.DefaultRead(source, n, handles, states, errors);
      }));
  ItemSample sample = MarkedSample();

  EXPECT_EQ(1, ReadItemSample(&group, handle, sample));
  VariantClear(&sample.value);
}

TEST_F(ReadTest, FailingReadLeavesTheSampleAndReleasesSyncIO) {
  // Failing with nothing handed back, then failing with both arrays handed
  // back all the same: the state's string value, the states and the errors
  // are freed.
  StrictMock<FakeGroup> group;
  group.initial.value = TestVariant::Bstr(L"left behind");
  const OPCHANDLE handle = group.AddItem(L"A");
  group.AddRef();  // the group stage's reference
  group.handOutThenFail = E_FAIL;
  EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(handle), NotNull(), NotNull()))
      .WillOnce(Return(E_FAIL))
      .WillOnce(DoDefault());
  const size_t live = Ledger().Live();
  const size_t allocated = Ledger().Allocated();
  for (const char *failure : {"nothing handed back", "arrays handed back"}) {
    SCOPED_TRACE(failure);
    ItemSample sample = MarkedSample();
    EXPECT_EQ(0, ReadItemSample(&group, handle, sample));
    ExpectUnread(sample);
    EXPECT_EQ(live, Ledger().Live()) << "what the failing read handed back is freed";
    EXPECT_REFS(&group, 1u);
  }
  EXPECT_EQ(allocated + 3, Ledger().Allocated()) << "the server handed back states, errors and a string";
  group.Release();
}

TEST_F(ReadTest, ReadCopiesValueQualityAndTimeStampAsDelivered) {
  StrictMock<FakeGroup> group;
  group.initial.value = TestVariant::Bstr(L"Pump \u00E4 running");
  group.initial.quality = OPC_QUALITY_GOOD | OPC_LIMIT_HIGH;
  group.initial.timeStamp = {0x89ABCDEF, 0x01D9F00D};
  const OPCHANDLE handle = group.AddItem(L"A");
  EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(handle), NotNull(), NotNull()));
  const size_t live = Ledger().Live();
  ItemSample sample = MarkedSample();

  ASSERT_EQ(1, ReadItemSample(&group, handle, sample));
  ASSERT_EQ(VT_BSTR, sample.value.vt);
  EXPECT_EQ(std::wstring(L"Pump \u00E4 running"), sample.value.bstrVal);
  EXPECT_NE(group.items[handle].value.get().bstrVal, sample.value.bstrVal) << "a copy, not the server's string";
  EXPECT_EQ(OPC_QUALITY_GOOD | OPC_LIMIT_HIGH, sample.quality);
  EXPECT_EQ(0x89ABCDEFu, sample.timeStamp.dwLowDateTime);
  EXPECT_EQ(0x01D9F00Du, sample.timeStamp.dwHighDateTime);
  EXPECT_EQ(live + 1, Ledger().Live()) << "only the caller's copy is left of what the read allocated";
  VariantClear(&sample.value);
  EXPECT_EQ(live, Ledger().Live());
  EXPECT_REFS(&group, 0u);
}

TEST_F(ReadTest, I4ValuePassesThroughAlthoughI2WasAskedFor) {
  StrictMock<FakeGroup> group;
  group.initial.value = TestVariant::I4(123456);
  EXPECT_CALL(group, AddItems(1u, Pointee(Field(&OPCITEMDEF::vtRequestedDataType, VT_I2)), _, _));
  EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, _, NotNull(), NotNull()));
  OPCHANDLE handle = 0;
  ASSERT_EQ(1, RegisterItem(&group, L"Counter", &handle));
  ItemSample sample = MarkedSample();

  ASSERT_EQ(1, ReadItemSample(&group, handle, sample));
  EXPECT_EQ(VT_I4, sample.value.vt);
  EXPECT_EQ(123456, sample.value.lVal);
}

TEST_F(ReadTest, SuccessWithFailingItemErrorStillYieldsTheSample) {
  StrictMock<FakeGroup> group;
  EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(0x99u), NotNull(), NotNull()))
      .WillOnce(Invoke([](OPCDATASOURCE, DWORD, OPCHANDLE *, OPCITEMSTATE **states, HRESULT **errors) {
        *states = TaskArray<OPCITEMSTATE>(1);
        (*states)[0].vDataValue.vt = VT_R8;
        (*states)[0].vDataValue.dblVal = 2.5;
        (*states)[0].wQuality = OPC_QUALITY_BAD | OPC_QUALITY_COMM_FAILURE;
        (*states)[0].ftTimeStamp = {0x01020304, 0x01D00000};
        *errors = TaskArray<HRESULT>(1);
        (*errors)[0] = OPC_E_BADTYPE;
        return S_FALSE;
      }));
  ItemSample sample = MarkedSample();

  ASSERT_EQ(1, ReadItemSample(&group, 0x99, sample));
  EXPECT_EQ(VT_R8, sample.value.vt);
  EXPECT_EQ(2.5, sample.value.dblVal);
  EXPECT_EQ(OPC_QUALITY_BAD | OPC_QUALITY_COMM_FAILURE, sample.quality);
  EXPECT_EQ(0x01020304u, sample.timeStamp.dwLowDateTime);
  EXPECT_EQ(0x01D00000u, sample.timeStamp.dwHighDateTime);
}

TEST_F(ReadTest, SuccessWithoutStatesOrErrorsReadsNothingAndFreesWhatCame) {
  StrictMock<FakeGroup> group;
  EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(0x99u), NotNull(), NotNull()))
      .WillOnce(Invoke([](OPCDATASOURCE, DWORD, OPCHANDLE *, OPCITEMSTATE **states, HRESULT **errors) {
        *states = TaskArray<OPCITEMSTATE>(1);
        (*states)[0].vDataValue.vt = VT_BSTR;
        (*states)[0].vDataValue.bstrVal = SysAllocString(L"left behind");
        *errors = nullptr;
        return S_OK;
      }))
      .WillOnce(Invoke([](OPCDATASOURCE, DWORD, OPCHANDLE *, OPCITEMSTATE **states, HRESULT **errors) {
        *states = nullptr;
        *errors = TaskArray<HRESULT>(1);
        return S_OK;
      }));
  for (const char *missing : {"errors", "states"}) {
    SCOPED_TRACE(std::string("no ") + missing);
    ItemSample sample = MarkedSample();
    EXPECT_EQ(0, ReadItemSample(&group, 0x99, sample));
    ExpectUnread(sample);
    EXPECT_EQ(0u, Ledger().Live()) << "what the read handed back is freed, the state's value too";
    EXPECT_REFS(&group, 0u);
  }
}

TEST_F(ReadTest, SyncInterfaceIsAskedForAnewAndReleasedForEveryRead) {
  StrictMock<FakeGroup> group;
  const OPCHANDLE handle = group.AddItem(L"A");
  group.AddRef();  // the group stage's reference
  EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(handle), NotNull(), NotNull())).Times(2);
  for (size_t read = 1; read <= 2; ++read) {
    SCOPED_TRACE("read " + std::to_string(read));
    ItemSample sample = MarkedSample();
    EXPECT_EQ(1, ReadItemSample(&group, handle, sample));
    EXPECT_EQ(read, group.Queries(IID_IOPCSyncIO));
    EXPECT_REFS(&group, 1u);
    VariantClear(&sample.value);
  }
  group.Release();
}

// What opcdiag names beside the 1/0: the request for IOPCSyncIO and the
// Read's own result, a success without arrays counted as E_POINTER.
TEST_F(ReadTest, VariantHandsBackTheQueryAndTheReadResults) {
  StrictMock<FakeGroup> group;
  const OPCHANDLE handle = group.AddItem(L"A");
  EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(handle), NotNull(), NotNull()))
      .WillOnce(DoDefault())
      .WillOnce(Return(E_FAIL))
      .WillOnce(Return(S_OK));
  for (HRESULT expected : {S_OK, E_FAIL, E_POINTER}) {
    HRESULT query = E_UNEXPECTED;
    HRESULT read = E_UNEXPECTED;
    ItemSample sample = MarkedSample();
    EXPECT_EQ(expected == S_OK ? 1 : 0, ReadItemSample(&group, handle, sample, &query, &read));
    EXPECT_EQ(S_OK, query);
    EXPECT_EQ(expected, read) << "got 0x" << std::hex << read;
    VariantClear(&sample.value);
  }
  group.SetAnswer(IID_IOPCSyncIO, Answer::SucceedNull);
  HRESULT query = S_OK;
  HRESULT read = E_UNEXPECTED;
  ItemSample sample = MarkedSample();
  EXPECT_EQ(0, ReadItemSample(&group, handle, sample, &query, &read));
  EXPECT_EQ(E_NOINTERFACE, query) << "got 0x" << std::hex << query;
  EXPECT_EQ(S_OK, read) << "no Read made";
}

}  // namespace
