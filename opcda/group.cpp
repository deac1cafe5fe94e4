// Group stage: one group, one item per tag, the stage that runs while they
// are registered, and the teardown in reverse order of creation.
//
// Out-pointers are null before every call, so whatever is in them after it
// came from the server and is the monitor's to free or release, even beside
// a failure: a well-behaved server hands nothing back then, but the stub of
// an out-of-process server marshals its out-parameters whatever the result.
#include "group.h"

#include <cstdlib>

#include "output.h"
#include "monitor_lines.h"

int CreateMonitorGroup(IOPCServer *server, IOPCItemMgt **itemMgt, OPCHANDLE *serverGroupHandle) {
  HRESULT ignored;
  return CreateMonitorGroup(server, itemMgt, serverGroupHandle, &ignored);
}

int CreateMonitorGroup(IOPCServer *server, IOPCItemMgt **itemMgt, OPCHANDLE *serverGroupHandle, HRESULT *result) {
  *itemMgt = nullptr;
  *serverGroupHandle = 0;
  OPCHANDLE handle = 0;
  DWORD revisedRate = 0;
  IUnknown *group = nullptr;
  HRESULT hr = server->AddGroup(GROUP_NAME, TRUE, 0, 1, nullptr, nullptr, 0, &handle, &revisedRate,
                                IID_IOPCItemMgt, &group);
  *result = FAILED(hr) || group != nullptr ? hr : E_NOINTERFACE;
  if (FAILED(hr) || group == nullptr) {
    // No group to remove, but a reference handed back beside the failure
    // is ours to release.
    if (group != nullptr) group->Release();
    return 0;
  }
  *itemMgt = static_cast<IOPCItemMgt *>(group);
  *serverGroupHandle = handle;
  return 1;
}

int RegisterItem(IOPCItemMgt *itemMgt, const wchar_t *name, OPCHANDLE *handleOut) {
  HRESULT call;
  HRESULT itemError;
  return RegisterItem(itemMgt, name, handleOut, &call, &itemError);
}

int RegisterItem(IOPCItemMgt *itemMgt, const wchar_t *name, OPCHANDLE *handleOut, HRESULT *call,
                 HRESULT *itemError) {
  *call = S_OK;
  *itemError = S_OK;
  // An entry the second browse did not fill names no tag.
  if (name == nullptr) return 0;

  OPCITEMDEF definition = {};
  definition.szAccessPath = nullptr;
  definition.szItemID = const_cast<LPWSTR>(name);
  definition.bActive = TRUE;
  definition.hClient = 1;
  definition.dwBlobSize = 0;
  definition.pBlob = nullptr;
  definition.vtRequestedDataType = VT_I2;
  definition.wReserved = 0;

  OPCITEMRESULT *results = nullptr;
  HRESULT *errors = nullptr;
  HRESULT hr = itemMgt->AddItems(1, &definition, &results, &errors);

  *call = hr;
  if (SUCCEEDED(hr) && (results == nullptr || errors == nullptr)) *call = E_POINTER;
  if (SUCCEEDED(hr) && errors != nullptr) *itemError = errors[0];
  int registered = 0;
  if (SUCCEEDED(hr) && results != nullptr && errors != nullptr && SUCCEEDED(errors[0])) {
    *handleOut = results[0].hServer;
    registered = 1;
  }
  // The blob, if the server sent one, is the client's to free like the arrays.
  if (results != nullptr) CoTaskMemFree(results[0].pBlob);
  CoTaskMemFree(results);
  CoTaskMemFree(errors);
  return registered;
}

int RegisterItems(IOPCItemMgt *itemMgt, const TagNameTable &names, ItemHandleTable &handles) {
  return RegisterItems(itemMgt, names, handles, NeverStop);
}

int RegisterItems(IOPCItemMgt *itemMgt, const TagNameTable &names, ItemHandleTable &handles,
                  StopCheck stopRequested) {
  if (names.count <= 0) return 1;
  if (handles.count < names.count) return 0;
  for (LONG i = 0; i < names.count; ++i) {
    // One call per tag: 100,000 tags take over a minute out of process.
    if (stopRequested()) return 0;
    if (!RegisterItem(itemMgt, names.entries[i], &handles.handles[i])) return 0;
  }
  return 1;
}

void UnregisterItems(IOPCItemMgt *itemMgt, const ItemHandleTable &handles) {
  HRESULT *errors = nullptr;
  const DWORD count = handles.count > 0 ? static_cast<DWORD>(handles.count) : 0;
  (void)itemMgt->RemoveItems(count, handles.handles, &errors);
  CoTaskMemFree(errors);
}

void DeleteMonitorGroup(IOPCServer *server, IOPCItemMgt *itemMgt, OPCHANDLE serverGroupHandle) {
  itemMgt->Release();
  (void)server->RemoveGroup(serverGroupHandle, FALSE);
  PutLine(LINE_GROUP_RELEASED);
}

void RunGroupStage(IOPCServer *server, const TagNameTable &names, ItemStage stage) {
  RunGroupStage(server, names, stage, NeverStop);
}

void RunGroupStage(IOPCServer *server, const TagNameTable &names, ItemStage stage, StopCheck stopRequested) {
  IOPCItemMgt *itemMgt = nullptr;
  OPCHANDLE group = 0;
  if (!CreateMonitorGroup(server, &itemMgt, &group)) return;

  // Never a null array, even for no tags: RemoveItems gets a valid pointer.
  ItemHandleTable handles = {names.count > 0 ? names.count : 0, nullptr};
  handles.handles = static_cast<OPCHANDLE *>(calloc(handles.count > 0 ? handles.count : 1, sizeof(OPCHANDLE)));
  if (handles.handles != nullptr) {
    if (RegisterItems(itemMgt, names, handles, stopRequested)) {
      PutLine(LINE_ITEMS_OK);
      stage(itemMgt, names, handles);
      UnregisterItems(itemMgt, handles);
    }
    free(handles.handles);
  }

  DeleteMonitorGroup(server, itemMgt, group);
}
