// The report opcdiag prints: one line per check, in the order the
// connection itself happens, then one verdict line that names what the
// monitor would show, in the monitor's own words. One writer at a time:
// the walk and the watchdog take the report's lock to write.
#pragma once

#include <string>

#include "decisions.h"

// One line: "ok", "FAIL" or "info", the stage, what was seen and, for a
// failure, what to do next (empty: nothing to add). Written to standard
// output at once, so that a line stands even when a later call hangs.
void ReportLine(Check kind, const char *stage, const std::wstring &fact, const std::wstring &next = std::wstring());
void ReportLines(const Decision &decision);
// The closing line.
void ReportVerdict(const std::wstring &verdict);
// Text as it stands (the usage, a command line to copy).
void ReportText(const std::wstring &text);

// The report's lock, taken again by the thread that holds it.
void LockReport();
void UnlockReport();
