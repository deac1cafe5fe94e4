// The fake OPC DA server; see fake_server.h.
#include "fake_server.h"

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

FakeServer::FakeServer(std::string name) : CountedObject(std::move(name)) {
  Expose(IID_IUnknown, static_cast<IOPCServer *>(this));
  Expose(IID_IOPCServer, static_cast<IOPCServer *>(this));
  Expose(IID_IOPCBrowseServerAddressSpace, static_cast<IOPCBrowseServerAddressSpace *>(this));
  ON_CALL(*this, BrowseOPCItemIDs(_, _, _, _, _)).WillByDefault(Invoke(this, &FakeServer::DefaultBrowse));
  ON_CALL(*this, AddGroup(_, _, _, _, _, _, _, _, _, _, _)).WillByDefault(Invoke(this, &FakeServer::DefaultAddGroup));
  ON_CALL(*this, RemoveGroup(_, _)).WillByDefault(Invoke(this, &FakeServer::DefaultRemoveGroup));
  ON_CALL(*this, GetErrorString(_, _, _)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, GetGroupByName(_, _, _)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, GetStatus(_)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, CreateGroupEnumerator(_, _, _)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, QueryOrganization(_)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, ChangeBrowsePosition(_, _)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, GetItemID(_, _)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, BrowseAccessPaths(_, _)).WillByDefault(Return(E_NOTIMPL));
}

HRESULT FakeServer::DefaultBrowse(OPCBROWSETYPE, LPCWSTR, VARTYPE, DWORD, LPENUMSTRING *ppIEnumString) {
  if (ppIEnumString == nullptr) return E_INVALIDARG;
  if (!queued_.empty()) {
    *ppIEnumString = queued_.front();
    queued_.pop_front();
    (*ppIEnumString)->AddRef();
    return FAILED(handOutThenFail) ? handOutThenFail : S_OK;
  }
  made_.push_back(std::make_unique<::testing::NiceMock<FakeEnumString>>(
      names, Name() + " enumerator " + std::to_string(made_.size() + 1)));
  *ppIEnumString = made_.back().get();
  (*ppIEnumString)->AddRef();
  if (FAILED(handOutThenFail)) return handOutThenFail;
  return names.empty() ? S_FALSE : S_OK;
}

HRESULT FakeServer::DefaultAddGroup(LPCWSTR, BOOL, DWORD dwRequestedUpdateRate, OPCHANDLE, LONG *, FLOAT *, DWORD,
                                    OPCHANDLE *phServerGroup, DWORD *pRevisedUpdateRate, REFIID riid,
                                    LPUNKNOWN *ppUnk) {
  if (phServerGroup == nullptr || pRevisedUpdateRate == nullptr || ppUnk == nullptr) return E_INVALIDARG;
  *ppUnk = nullptr;
  if (group == nullptr) return E_FAIL;
  const HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void **>(ppUnk));
  if (FAILED(hr)) return hr;
  *phServerGroup = groupHandle;
  *pRevisedUpdateRate = dwRequestedUpdateRate < fastestRate ? fastestRate : dwRequestedUpdateRate;
  if (FAILED(handOutThenFail)) return handOutThenFail;
  return dwRequestedUpdateRate < fastestRate ? OPC_S_UNSUPPORTEDRATE : S_OK;
}

HRESULT FakeServer::DefaultRemoveGroup(OPCHANDLE hServerGroup, BOOL) {
  if (group == nullptr || hServerGroup != groupHandle) return E_INVALIDARG;
  return group->References() == 0 ? S_OK : OPC_S_INUSE;
}
