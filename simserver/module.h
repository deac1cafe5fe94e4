// Process-wide state of the server, DLL or EXE: its module handle, the class
// factory, the counts of live objects and server locks that decide whether
// the DLL may be unloaded or the EXE may end, and the count of clients'
// extra Releases that the tests check.
#pragma once

#include <windows.h>

namespace simserver {

HMODULE ModuleHandle();
void SetModuleHandle(HMODULE module);

// For the EXE only, before its class object is registered: from then on
// every object and lock also counts with CoAddRefServerProcess, and the
// handler is called, on the thread that made it so, when
// CoReleaseServerProcess brings that count back to zero.
void SetIdleHandler(void (*handler)());

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
// The extra Releases since the last call, and the count back at 0.
LONG TakeExcessReleases();

// A factory of server objects; counted: it keeps the module in use while it
// lives (the DLL's), not counted (the EXE's, held by COM while registered).
HRESULT CreateClassFactory(bool counted, REFIID riid, void **ppv);

}  // namespace simserver
