// simserver.exe as a local COM server: its LocalServer32 registration and
// the run that serves one client.
#pragma once

#include <windows.h>

namespace simserver {

// Writes the ProgID and the class with LocalServer32 naming this program.
// Changes nothing and fails when the ProgID or the class already names
// another class or ProgID.
HRESULT RegisterLocalServer();
// Removes LocalServer32, and the class and ProgID once no server of either
// architecture is left registered under them.
HRESULT UnregisterLocalServer();

}  // namespace simserver
