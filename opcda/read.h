// The synchronous read of one registered item from the server's cache.
#pragma once

#include "opcda.h"

// One read: the value (owned by the caller, who initialises and clears it),
// the OPC quality word as delivered and the UTC time stamp.
struct ItemSample {
  VARIANT value;
  WORD quality;
  FILETIME timeStamp;
};

// Reads the item with the given server handle; 1 when the sample was filled,
// 0 with the sample left as it was.
int ReadItemSample(IOPCItemMgt *itemMgt, OPCHANDLE serverHandle, ItemSample &sample);
// The same, with *syncQuery the request for IOPCSyncIO and *read the Read
// call's result (S_OK where not reached; E_POINTER for a success that
// handed back no arrays).
int ReadItemSample(IOPCItemMgt *itemMgt, OPCHANDLE serverHandle, ItemSample &sample, HRESULT *syncQuery,
                   HRESULT *read);
