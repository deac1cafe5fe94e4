// Reading the registration; see registration_facts.h.
#include "registration_facts.h"

#include "report.h"

RegistrationFindings CheckRegistration(const wchar_t *name) {
  RegistrationFindings findings{};
  findings.resolved = SUCCEEDED(CLSIDFromString(name, &findings.clsid)) ? 1 : 0;
  return findings;
}

int ListServers() { return 0; }
