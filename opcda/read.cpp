// Synchronous cache read of one item. The sync interface is asked for anew
// for every read and released right after it. What the server hands back is
// freed or released even beside a failure: the out-pointers are null before
// each call, and the stub of an out-of-process server marshals its
// out-parameters whatever the result.
#include "read.h"

int ReadItemSample(IOPCItemMgt *itemMgt, OPCHANDLE serverHandle, ItemSample &sample) {
  HRESULT syncQuery;
  HRESULT read;
  return ReadItemSample(itemMgt, serverHandle, sample, &syncQuery, &read);
}

int ReadItemSample(IOPCItemMgt *itemMgt, OPCHANDLE serverHandle, ItemSample &sample, HRESULT *syncQuery,
                   HRESULT *read) {
  *read = S_OK;
  IOPCSyncIO *syncIO = nullptr;
  HRESULT hr = itemMgt->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void **>(&syncIO));
  *syncQuery = FAILED(hr) || syncIO != nullptr ? hr : E_NOINTERFACE;
  if (FAILED(hr) || syncIO == nullptr) {
    if (syncIO != nullptr) syncIO->Release();
    return 0;
  }

  OPCITEMSTATE *states = nullptr;
  HRESULT *errors = nullptr;
  hr = syncIO->Read(OPC_DS_CACHE, 1, &serverHandle, &states, &errors);
  *read = SUCCEEDED(hr) && (states == nullptr || errors == nullptr) ? E_POINTER : hr;

  // The per-item error is not consulted: the state is shown as delivered.
  // A success that hands back no arrays is a failed read.
  int filled = 0;
  if (SUCCEEDED(hr) && states != nullptr && errors != nullptr) {
    (void)VariantCopy(&sample.value, &states[0].vDataValue);
    sample.quality = states[0].wQuality;
    sample.timeStamp = states[0].ftTimeStamp;
    filled = 1;
  }
  if (states != nullptr) (void)VariantClear(&states[0].vDataValue);
  CoTaskMemFree(states);
  CoTaskMemFree(errors);
  syncIO->Release();
  return filled;
}
