// The server object: IOPCServer and IOPCBrowseServerAddressSpace over the
// simulation of the scenario in force when it was created.
#pragma once

#include <unknwn.h>

namespace simserver {

// Hands out a new server object with one reference in *out.
HRESULT CreateServerObject(IUnknown **out);

}  // namespace simserver
