// Process-wide state of the DLL: its module handle and the counts of live
// objects and server locks that decide whether it may be unloaded, and the
// count of clients' extra Releases that the tests check.
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

// What an object's Release does when it holds no reference: counts the
// client's extra Release for the tests (SimServerTakeExcessReleases) instead
// of freeing twice, and returns 0.
ULONG ExcessRelease();

}  // namespace simserver
