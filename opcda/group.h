// The monitor's one OPC group: its creation, the registration of every tag
// as an item, and its removal. Also runs the stage that lives inside it.
#pragma once

#include "browse.h"
#include "monitor_lines.h"
#include "opcda.h"
#include "stop_check.h"

// One server item handle per tag, in the order of the TagNameTable;
// entries after a failed registration stay 0.
struct ItemHandleTable {
  LONG count;
  OPCHANDLE *handles;
};

// What runs while the items are registered: the polling loop in the program,
// a stand-in in tests.
typedef void (*ItemStage)(IOPCItemMgt *itemMgt, const TagNameTable &names, const ItemHandleTable &handles);

// Creates the group; 1 with its IOPCItemMgt reference and server handle in
// the out-parameters, 0 with no reference held.
int CreateMonitorGroup(IOPCServer *server, IOPCItemMgt **itemMgt, OPCHANDLE *serverGroupHandle);
// The same, with *result the AddGroup call's (E_NOINTERFACE for a success
// that handed back no group).
int CreateMonitorGroup(IOPCServer *server, IOPCItemMgt **itemMgt, OPCHANDLE *serverGroupHandle, HRESULT *result);

// Registers every tag of `names` into `handles` in table order; 1 when all
// were registered, 0 at the first that was not (the rest are not tried).
int RegisterItems(IOPCItemMgt *itemMgt, const TagNameTable &names, ItemHandleTable &handles);
// The same, asking `stopRequested` before each tag; a stop ends the
// registration as a tag not registered does (0).
int RegisterItems(IOPCItemMgt *itemMgt, const TagNameTable &names, ItemHandleTable &handles,
                  StopCheck stopRequested);

// Registers one tag; 1 with its server handle in *handleOut, or 0. A null
// name is a tag that cannot be registered.
int RegisterItem(IOPCItemMgt *itemMgt, const wchar_t *name, OPCHANDLE *handleOut);
// The same, with *call the AddItems call's result and *itemError the
// tag's own entry in its error array (S_OK where not reached; E_POINTER
// for a success that handed back no arrays).
int RegisterItem(IOPCItemMgt *itemMgt, const wchar_t *name, OPCHANDLE *handleOut, HRESULT *call,
                 HRESULT *itemError);

// Removes all items of the table from the group in one call.
void UnregisterItems(IOPCItemMgt *itemMgt, const ItemHandleTable &handles);

// Releases the group's reference, removes the group from the server and
// prints "group released".
void DeleteMonitorGroup(IOPCServer *server, IOPCItemMgt *itemMgt, OPCHANDLE serverGroupHandle);

// The whole group stage: create, register, "Items OK", run `stage`, then
// tear down in reverse order of creation.
void RunGroupStage(IOPCServer *server, const TagNameTable &names, ItemStage stage);
// The same, with the registration asking `stopRequested` before each tag.
void RunGroupStage(IOPCServer *server, const TagNameTable &names, ItemStage stage, StopCheck stopRequested);
