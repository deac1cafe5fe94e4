// The report: one line per check, in the order the connection itself
// happens, then one verdict line that says what the monitor would show, in
// its own words. The walk and the watchdog take the report's lock to write.
#pragma once

#include <string>

#include "decisions.h"

// "ok", "FAIL" or "info", the stage, what was seen and, for a failure, what
// to do next; written at once, so that it stands when a later call hangs.
void ReportLine(Check kind, const char *stage, const std::wstring &fact, const std::wstring &next = std::wstring());
void ReportLines(const Decision &decision);
void ReportVerdict(const std::wstring &verdict);
// Text as it stands (the usage, a command line to copy).
void ReportText(const std::wstring &text);
// The report's lock, which the thread that holds it may take again.
void LockReport();
void UnlockReport();
