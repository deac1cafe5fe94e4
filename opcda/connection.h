// Connection to the one OPC DA server this monitor watches.
#pragma once

#include "opcda.h"
// SERVER_PROGID, fixed at build time (-DOPCMON_SERVER_PROGID=<ProgID>).
#include "server_progid.h"

// Creates the server registered under SERVER_PROGID and returns its
// IOPCServer reference, which the caller ends with Release; null when the
// ProgID is not registered, the class cannot be created or the object does
// not offer IOPCServer.
IOPCServer *ConnectServer();

// The decision on one activation result: the server reference when both the
// call and the entry succeeded and the entry holds one, null otherwise.
IOPCServer *ServerFromActivation(HRESULT activation, const MULTI_QI &entry);
