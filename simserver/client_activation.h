// simserver.exe's class object as COM hands it out: registered for one
// client and, where asked, registered so that the activation's call tells
// which process that client is.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace simserver {

struct ClassRegistration;

// Registers `factory`, an object of the calling thread's single-threaded
// apartment, as the class object for one client. With `learn_client` the
// registration also finds out which process activates it (see
// ClientProcess). Null on failure.
ClassRegistration *RegisterForOneClient(IClassFactory *factory, bool learn_client);

// The process that activated the class, opened for waiting, once an
// activation has come and that process is known; null before, and when it
// cannot be known. The registration keeps ownership.
HANDLE ClientProcess(ClassRegistration *registration);

// Revokes the class object and frees the registration; the calling thread's
// messages are dispatched meanwhile.
void Revoke(ClassRegistration *registration);

}  // namespace simserver
