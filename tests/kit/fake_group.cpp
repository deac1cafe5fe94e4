// The fake OPC group; see fake_group.h.
#include "fake_group.h"

#include "task_memory_ledger.h"

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

TestVariant::TestVariant(const VARIANT &value) {
  VariantInit(&value_);
  (void)VariantCopy(&value_, const_cast<VARIANT *>(&value));
}

TestVariant &TestVariant::operator=(const TestVariant &other) {
  if (this != &other) (void)VariantCopy(&value_, const_cast<VARIANT *>(&other.value_));
  return *this;
}

TestVariant TestVariant::I2(SHORT value) {
  TestVariant variant;
  variant.value_.vt = VT_I2;
  variant.value_.iVal = value;
  return variant;
}

TestVariant TestVariant::I4(LONG value) {
  TestVariant variant;
  variant.value_.vt = VT_I4;
  variant.value_.lVal = value;
  return variant;
}

TestVariant TestVariant::R8(double value) {
  TestVariant variant;
  variant.value_.vt = VT_R8;
  variant.value_.dblVal = value;
  return variant;
}

TestVariant TestVariant::Bstr(const wchar_t *text) {
  TestVariant variant;
  variant.value_.vt = VT_BSTR;
  variant.value_.bstrVal = SysAllocString(text);
  return variant;
}

FakeGroup::FakeGroup(std::string name) : CountedObject(std::move(name)) {
  Expose(IID_IUnknown, static_cast<IOPCItemMgt *>(this));
  Expose(IID_IOPCItemMgt, static_cast<IOPCItemMgt *>(this));
  Expose(IID_IOPCSyncIO, static_cast<IOPCSyncIO *>(this));
  ON_CALL(*this, AddItems(_, _, _, _)).WillByDefault(Invoke(this, &FakeGroup::DefaultAddItems));
  ON_CALL(*this, RemoveItems(_, _, _)).WillByDefault(Invoke(this, &FakeGroup::DefaultRemoveItems));
  ON_CALL(*this, Read(_, _, _, _, _)).WillByDefault(Invoke(this, &FakeGroup::DefaultRead));
  ON_CALL(*this, ValidateItems(_, _, _, _, _)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, SetActiveState(_, _, _, _)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, SetClientHandles(_, _, _, _)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, SetDatatypes(_, _, _, _)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, CreateEnumerator(_, _)).WillByDefault(Return(E_NOTIMPL));
  ON_CALL(*this, Write(_, _, _, _)).WillByDefault(Return(E_NOTIMPL));
}

OPCHANDLE FakeGroup::AddItem(const std::wstring &id, OPCHANDLE hClient) {
  const OPCHANDLE handle = nextHandle++;
  FakeItem &item = items[handle] = initial;
  item.id = id;
  item.hClient = hClient;
  return handle;
}

HRESULT FakeGroup::DefaultAddItems(DWORD dwCount, OPCITEMDEF *pItemArray, OPCITEMRESULT **ppAddResults,
                                   HRESULT **ppErrors) {
  if (pItemArray == nullptr || ppAddResults == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  *ppAddResults = nullptr;
  *ppErrors = nullptr;
  if (dwCount == 0) return E_INVALIDARG;
  OPCITEMRESULT *results = TaskArray<OPCITEMRESULT>(dwCount);
  HRESULT *errors = TaskArray<HRESULT>(dwCount);
  if (results == nullptr || errors == nullptr) {
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  HRESULT hr = S_OK;
  for (DWORD i = 0; i < dwCount; ++i) {
    const OPCITEMDEF &definition = pItemArray[i];
    if (definition.szItemID == nullptr || definition.szItemID[0] == L'\0') {
      errors[i] = OPC_E_INVALIDITEMID;
    } else if (rejected.count(definition.szItemID) != 0) {
      errors[i] = rejection;
    } else {
      results[i].hServer = AddItem(definition.szItemID, definition.hClient);
      results[i].vtCanonicalDataType = initial.value.get().vt;
      results[i].dwAccessRights = OPC_READABLE;
      if (blobSize != 0) {
        results[i].pBlob = TaskArray<BYTE>(blobSize);
        results[i].dwBlobSize = results[i].pBlob != nullptr ? blobSize : 0;
      }
      errors[i] = S_OK;
    }
    if (FAILED(errors[i])) hr = S_FALSE;
  }
  *ppAddResults = results;
  *ppErrors = errors;
  return FAILED(handOutThenFail) ? handOutThenFail : hr;
}

HRESULT FakeGroup::DefaultRemoveItems(DWORD dwCount, OPCHANDLE *phServer, HRESULT **ppErrors) {
  if (phServer == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  *ppErrors = nullptr;
  if (dwCount == 0) return E_INVALIDARG;
  HRESULT *errors = TaskArray<HRESULT>(dwCount);
  if (errors == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = S_OK;
  for (DWORD i = 0; i < dwCount; ++i) {
    errors[i] = items.erase(phServer[i]) != 0 ? S_OK : OPC_E_INVALIDHANDLE;
    if (FAILED(errors[i])) hr = S_FALSE;
  }
  *ppErrors = errors;
  return FAILED(handOutThenFail) ? handOutThenFail : hr;
}

HRESULT FakeGroup::DefaultRead(OPCDATASOURCE, DWORD dwCount, OPCHANDLE *phServer, OPCITEMSTATE **ppItemValues,
                               HRESULT **ppErrors) {
  if (phServer == nullptr || ppItemValues == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  *ppItemValues = nullptr;
  *ppErrors = nullptr;
  if (dwCount == 0) return E_INVALIDARG;
  OPCITEMSTATE *states = TaskArray<OPCITEMSTATE>(dwCount);
  HRESULT *errors = TaskArray<HRESULT>(dwCount);
  if (states == nullptr || errors == nullptr) {
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  HRESULT hr = S_OK;
  for (DWORD i = 0; i < dwCount; ++i) {
    VariantInit(&states[i].vDataValue);
    const auto found = items.find(phServer[i]);
    if (found == items.end()) {
      states[i].wQuality = OPC_QUALITY_BAD;
      errors[i] = OPC_E_INVALIDHANDLE;
      hr = S_FALSE;
      continue;
    }
    const FakeItem &item = found->second;
    states[i].hClient = item.hClient;
    states[i].ftTimeStamp = item.timeStamp;
    states[i].wQuality = item.quality;
    errors[i] = VariantCopy(&states[i].vDataValue, const_cast<VARIANT *>(&item.value.get()));
    if (FAILED(errors[i])) hr = S_FALSE;
  }
  *ppItemValues = states;
  *ppErrors = errors;
  return FAILED(handOutThenFail) ? handOutThenFail : hr;
}

void PrintTo(const OPCITEMDEF &definition, std::ostream *os) {
  *os << "OPCITEMDEF{szAccessPath=";
  if (definition.szAccessPath == nullptr) {
    *os << "null";
  } else {
    *os << ::testing::PrintToString(std::wstring(definition.szAccessPath));
  }
  *os << ", szItemID=";
  if (definition.szItemID == nullptr) {
    *os << "null";
  } else {
    *os << ::testing::PrintToString(std::wstring(definition.szItemID));
  }
  *os << ", bActive=" << definition.bActive << ", hClient=" << definition.hClient
      << ", dwBlobSize=" << definition.dwBlobSize << ", pBlob=" << static_cast<const void *>(definition.pBlob)
      << ", vtRequestedDataType=" << definition.vtRequestedDataType << ", wReserved=" << definition.wReserved << "}";
}
