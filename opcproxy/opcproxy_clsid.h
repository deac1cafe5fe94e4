// The class of the proxy/stub factory in opcmon-ps.dll, and the interfaces it
// marshals.
#pragma once

#include "opcda.h"

// The file's name in the zip: one no OPC runtime's proxy/stub has.
constexpr wchar_t PROXY_STUB_FILE[] = L"opcmon-ps.dll";

// {D0CD6F78-410B-4371-B619-43EF6A33B157}
extern "C" const CLSID CLSID_BrenvickOpcProxy;

struct ProxiedInterface {
  const IID *iid;
  const wchar_t *name;
  unsigned methods;  // including IUnknown's three
};

inline const ProxiedInterface kProxiedInterfaces[] = {
    {&IID_IOPCServer, L"IOPCServer", 9},
    {&IID_IOPCBrowseServerAddressSpace, L"IOPCBrowseServerAddressSpace", 8},
    {&IID_IOPCItemMgt, L"IOPCItemMgt", 10},
    {&IID_IOPCSyncIO, L"IOPCSyncIO", 5},
};
