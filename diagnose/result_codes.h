// What a result code means to the person at the console: its symbolic name
// where it is one the monitor's calls meet, whether it says the server's
// process is gone, and the server's own text for it beside the system's.
#pragma once

#include <string>

#include "opcda.h"

// "OPC_E_UNKNOWNITEMID" and the like; the empty text for a code not named.
const wchar_t *CodeName(HRESULT code);

// The call failed because the server's process ended or cannot be reached.
bool ServerGone(HRESULT code);

// "0xC0040007 (OPC_E_UNKNOWNITEMID: <server's text>; system: <text>)":
// the server's text from IOPCServer::GetErrorString (asked only when
// `server` is given and still there), the system's message beside it.
std::wstring CodeText(IOPCServer *server, HRESULT code);
