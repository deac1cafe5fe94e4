// A fake OPC group: IOPCItemMgt and IOPCSyncIO on one object (the latter
// offered or refused through QueryInterface as the test says). Its default
// actions behave like a server's group over the data below:
//  - AddItems gives each accepted item the next server handle and a state
//    copied from `initial`; a null or empty item ID, or one in `rejected`,
//    gets a per-item error and the call S_FALSE; results and errors come
//    from the task allocator.
//  - RemoveItems removes known handles, OPC_E_INVALIDHANDLE for others.
//  - Read hands out one state per handle (value copied with VariantCopy,
//    quality, time stamp, client handle); an unknown handle gets
//    OPC_E_INVALIDHANDLE, VT_EMPTY, bad quality, and the call S_FALSE.
//  - Every other method answers E_NOTIMPL. A zero count is E_INVALIDARG.
// With `handOutThenFail` set to a failure code, AddItems, RemoveItems and
// Read do as above, hand their arrays back and answer that code: a server
// that fails yet hands memory back, as the stub of an out-of-process server
// marshals out-parameters whatever the result.
#pragma once

#include <gmock/gmock.h>

#include <map>
#include <ostream>
#include <set>
#include <string>

#include "opcda.h"
#include "ref_counting.h"

// A VARIANT that the test owns: cleared when it goes, copied by VariantCopy.
class TestVariant {
 public:
  TestVariant() { VariantInit(&value_); }
  explicit TestVariant(const VARIANT &value);
  TestVariant(const TestVariant &other) : TestVariant(other.value_) {}
  TestVariant &operator=(const TestVariant &other);
  ~TestVariant() { VariantClear(&value_); }

  static TestVariant I2(SHORT value);
  static TestVariant I4(LONG value);
  static TestVariant R8(double value);
  static TestVariant Bstr(const wchar_t *text);  // a new BSTR (task memory)

  const VARIANT &get() const { return value_; }
  VARIANT *put() { return &value_; }

 private:
  VARIANT value_;
};

// One item of the fake group.
struct FakeItem {
  std::wstring id;
  OPCHANDLE hClient = 0;
  TestVariant value;
  WORD quality = OPC_QUALITY_GOOD;
  FILETIME timeStamp = {0x266C9280, 0x01DA9F84};  // 2024-05-06 07:08:09 UTC
};

class FakeGroup : public IOPCItemMgt, public IOPCSyncIO, public CountedObject {
 public:
  explicit FakeGroup(std::string name = "fake group");

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override { return AnswerQuery(iid, object); }
  ULONG STDMETHODCALLTYPE AddRef() override { return CountAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return CountRelease(); }

  // IOPCItemMgt
  MOCK_METHOD(HRESULT, AddItems,
              (DWORD dwCount, OPCITEMDEF *pItemArray, OPCITEMRESULT **ppAddResults, HRESULT **ppErrors),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, ValidateItems,
              (DWORD dwCount, OPCITEMDEF *pItemArray, BOOL bBlobUpdate, OPCITEMRESULT **ppValidationResults,
               HRESULT **ppErrors),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, RemoveItems, (DWORD dwCount, OPCHANDLE *phServer, HRESULT **ppErrors),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, SetActiveState, (DWORD dwCount, OPCHANDLE *phServer, BOOL bActive, HRESULT **ppErrors),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, SetClientHandles,
              (DWORD dwCount, OPCHANDLE *phServer, OPCHANDLE *phClient, HRESULT **ppErrors),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, SetDatatypes,
              (DWORD dwCount, OPCHANDLE *phServer, VARTYPE *pRequestedDatatypes, HRESULT **ppErrors),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, CreateEnumerator, (REFIID riid, LPUNKNOWN *ppUnk), (override, Calltype(STDMETHODCALLTYPE)));
  // IOPCSyncIO
  MOCK_METHOD(HRESULT, Read,
              (OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE *phServer, OPCITEMSTATE **ppItemValues,
               HRESULT **ppErrors),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, Write, (DWORD dwCount, OPCHANDLE *phServer, VARIANT *pItemValues, HRESULT **ppErrors),
              (override, Calltype(STDMETHODCALLTYPE)));

  // Adds an item as AddItems would, returning its server handle.
  OPCHANDLE AddItem(const std::wstring &id, OPCHANDLE hClient = 1);

  // The default actions.
  HRESULT DefaultAddItems(DWORD dwCount, OPCITEMDEF *pItemArray, OPCITEMRESULT **ppAddResults, HRESULT **ppErrors);
  HRESULT DefaultRemoveItems(DWORD dwCount, OPCHANDLE *phServer, HRESULT **ppErrors);
  HRESULT DefaultRead(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE *phServer, OPCITEMSTATE **ppItemValues,
                      HRESULT **ppErrors);

  FakeItem initial;                         // the state a new item starts with
  std::map<OPCHANDLE, FakeItem> items;      // by server handle
  OPCHANDLE nextHandle = 0x100;             // the next item's server handle
  std::set<std::wstring> rejected;          // item IDs AddItems refuses
  HRESULT rejection = OPC_E_UNKNOWNITEMID;  // their per-item error
  DWORD blobSize = 0;                       // AddItems gives each accepted item a blob this long
  HRESULT handOutThenFail = S_OK;           // see above
};

// Failure messages show item definitions field by field.
void PrintTo(const OPCITEMDEF &definition, std::ostream *os);
