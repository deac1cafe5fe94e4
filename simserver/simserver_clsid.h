// Identity of the Brenvick simulation server: its class ID, ProgID and name.
// Shared by the server itself and the programs that load it without the
// registry.
#pragma once

#include <windows.h>

// {CE51EC76-81FD-4D98-8720-F5E68D5BFEE8}
inline const CLSID CLSID_BrenvickSimServer = {
    0xCE51EC76, 0x81FD, 0x4D98, {0x87, 0x20, 0xF5, 0xE6, 0x8D, 0x5B, 0xFE, 0xE8}};

inline const wchar_t kBrenvickSimProgId[] = L"OPC.Brenvick.1";
inline const wchar_t kBrenvickSimDescription[] = L"Brenvick OPC DA Simulation Server";
