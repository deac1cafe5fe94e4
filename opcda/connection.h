// Connection to the one OPC DA server this monitor watches.
#pragma once

#include "call_results.h"
#include "opcda.h"
// SERVER_PROGID, fixed at build time (-DOPCMON_SERVER_PROGID=<ProgID>).
#include "server_progid.h"

// Creates the server registered under SERVER_PROGID and returns its
// IOPCServer reference, which the caller ends with Release; null when the
// ProgID is not registered, the class cannot be created or the object does
// not offer IOPCServer.
IOPCServer *ConnectServer();


// The same for the server registered under `name` (a ProgID or a braced
// CLSID), activated in the class contexts `context` (CLSCTX_ALL is what the
// monitor asks for); *seen, when given, says what each step returned.
IOPCServer *ConnectServer(const wchar_t *name, DWORD context, ActivationResult *seen);

// The decision on one activation result: the server reference when both the
// call and the entry succeeded and the entry holds one, null otherwise.
IOPCServer *ServerFromActivation(HRESULT activation, const MULTI_QI &entry);
