// Process-wide state of the DLL: its module handle and the counts of live
// objects and server locks that decide whether it may be unloaded.
#pragma once

#include <windows.h>

namespace simserver {

HMODULE ModuleHandle();

// Every COM object of this DLL calls these from its constructor and destructor.
void ObjectCreated();
void ObjectDestroyed();

void LockModule();
void UnlockModule();

bool ModuleInUse();

}  // namespace simserver
