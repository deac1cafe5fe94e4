// The activation stage: the monitor's one CoCreateInstanceEx and, when it
// fails, one activation per class context to tell which is registered and
// which fails.
#pragma once

#include <string>

#include "opcda.h"
#include "registration_facts.h"

// The server's IOPCServer reference as the monitor gets it, or null with
// *verdict the monitor's outcome and its cause.
IOPCServer *ActivateServer(const wchar_t *name, const RegistrationFindings &findings, std::wstring *verdict);
