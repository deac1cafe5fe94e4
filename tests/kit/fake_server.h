// A fake OPC DA server: IOPCServer and IOPCBrowseServerAddressSpace on one
// object, each offered or refused through QueryInterface as the test says.
// Its default actions behave like a server over the data below:
//  - BrowseOPCItemIDs hands out, with one reference, the next enumerator
//    the test queued with HandOut(), or else a new enumerator of its own
//    over `names` (S_FALSE when `names` is empty, as a server that finds
//    nothing); the server keeps the ones it made for the test to inspect.
//  - AddGroup hands out `group` through the group's own QueryInterface for
//    the requested interface (one reference) and `groupHandle`; E_FAIL
//    when no group is set.
//  - RemoveGroup of `groupHandle` is S_OK once the group holds no more
//    references, OPC_S_INUSE before; E_INVALIDARG for another handle.
//  - Every other method answers E_NOTIMPL.
// With `handOutThenFail` set to a failure code, BrowseOPCItemIDs and
// AddGroup hand out what they made as above and answer that code: a server
// that fails yet hands a reference back, as the stub of an out-of-process
// server marshals out-parameters whatever the result.
#pragma once

#include <gmock/gmock.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fake_enum_string.h"
#include "fake_group.h"
#include "opcda.h"
#include "ref_counting.h"

class FakeServer : public IOPCServer, public IOPCBrowseServerAddressSpace, public CountedObject {
 public:
  explicit FakeServer(std::string name = "fake server");

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override { return AnswerQuery(iid, object); }
  ULONG STDMETHODCALLTYPE AddRef() override { return CountAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return CountRelease(); }

  // IOPCServer
  MOCK_METHOD(HRESULT, AddGroup,
              (LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup, LONG *pTimeBias,
               FLOAT *pPercentDeadband, DWORD dwLCID, OPCHANDLE *phServerGroup, DWORD *pRevisedUpdateRate,
               REFIID riid, LPUNKNOWN *ppUnk),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, GetErrorString, (HRESULT dwError, LCID dwLocale, LPWSTR *ppString),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, GetGroupByName, (LPCWSTR szName, REFIID riid, LPUNKNOWN *ppUnk),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, GetStatus, (OPCSERVERSTATUS * *ppServerStatus), (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, RemoveGroup, (OPCHANDLE hServerGroup, BOOL bForce), (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, CreateGroupEnumerator, (OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN *ppUnk),
              (override, Calltype(STDMETHODCALLTYPE)));
  // IOPCBrowseServerAddressSpace
  MOCK_METHOD(HRESULT, QueryOrganization, (OPCNAMESPACETYPE * pNameSpaceType),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, ChangeBrowsePosition, (OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, BrowseOPCItemIDs,
              (OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
               DWORD dwAccessRightsFilter, LPENUMSTRING *ppIEnumString),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, GetItemID, (LPWSTR szItemDataID, LPWSTR *szItemID), (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, BrowseAccessPaths, (LPCWSTR szItemID, LPENUMSTRING *ppIEnumString),
              (override, Calltype(STDMETHODCALLTYPE)));

  // The next BrowseOPCItemIDs calls hand out these, in order, before any
  // enumerator of the server's own.
  void HandOut(IEnumString *enumerator) { queued_.push_back(enumerator); }
  // The enumerators the server made itself, in the order handed out.
  size_t EnumeratorsMade() const { return made_.size(); }
  FakeEnumString &MadeEnumerator(size_t index) { return *made_.at(index); }

  // The default actions.
  HRESULT DefaultBrowse(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                        DWORD dwAccessRightsFilter, LPENUMSTRING *ppIEnumString);
  HRESULT DefaultAddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                          LONG *pTimeBias, FLOAT *pPercentDeadband, DWORD dwLCID, OPCHANDLE *phServerGroup,
                          DWORD *pRevisedUpdateRate, REFIID riid, LPUNKNOWN *ppUnk);
  HRESULT DefaultRemoveGroup(OPCHANDLE hServerGroup, BOOL bForce);

  NameList names;                  // what the server's own enumerators deliver
  FakeGroup *group = nullptr;       // what AddGroup hands out
  OPCHANDLE groupHandle = 0x6701;   // its server group handle
  DWORD fastestRate = 100;          // AddGroup revises faster rates to this
  HRESULT handOutThenFail = S_OK;   // see above

 private:
  std::deque<IEnumString *> queued_;
  std::vector<std::unique_ptr<::testing::NiceMock<FakeEnumString>>> made_;
};
