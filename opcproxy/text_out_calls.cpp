// The two halves the proxy/stub adds around the calls that hand a server's
// text to the caller (IOPCServer::GetErrorString and
// IOPCBrowseServerAddressSpace::GetItemID): opcda.idl sends them as their
// Remote twins, whose text travels in OPCWIRETEXT (why, in opcda.idl). The
// text stays what the published declaration says: allocated by the server
// from the task allocator, the caller's to free with CoTaskMemFree.
#include "opcda.h"

namespace {

// What the generated proxy of a reference pointer answers for a null one.
const HRESULT kNullOutPointer = HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER);

}  // namespace

HRESULT CALLBACK IOPCServer_GetErrorString_Proxy(IOPCServer *This, HRESULT dwError, LCID dwLocale,
                                                 LPWSTR *ppString) {
  if (ppString == nullptr) return kNullOutPointer;
  // Null going in, so that the unmarshalled text lands in a block of its own
  // whatever the caller's variable held.
  OPCWIRETEXT text = {nullptr};
  const HRESULT hr = IOPCServer_RemoteGetErrorString_Proxy(This, dwError, dwLocale, &text);
  *ppString = text.szText;
  return hr;
}

HRESULT __RPC_STUB IOPCServer_GetErrorString_Stub(IOPCServer *This, HRESULT dwError, LCID dwLocale,
                                                  OPCWIRETEXT *ppString) {
  ppString->szText = nullptr;
  return This->GetErrorString(dwError, dwLocale, &ppString->szText);
}

HRESULT CALLBACK IOPCBrowseServerAddressSpace_GetItemID_Proxy(IOPCBrowseServerAddressSpace *This,
                                                              LPWSTR szItemDataID, LPWSTR *szItemID) {
  if (szItemID == nullptr) return kNullOutPointer;
  OPCWIRETEXT text = {nullptr};
  const HRESULT hr = IOPCBrowseServerAddressSpace_RemoteGetItemID_Proxy(This, szItemDataID, &text);
  *szItemID = text.szText;
  return hr;
}

HRESULT __RPC_STUB IOPCBrowseServerAddressSpace_GetItemID_Stub(IOPCBrowseServerAddressSpace *This,
                                                               LPWSTR szItemDataID, OPCWIRETEXT *szItemID) {
  szItemID->szText = nullptr;
  return This->GetItemID(szItemDataID, &szItemID->szText);
}
