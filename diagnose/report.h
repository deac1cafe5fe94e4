// The report opcdiag prints: one line per check, in the order the
// connection itself happens, then one verdict line that names what the
// monitor would show, in the monitor's own words.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

enum class Check { kOk, kFail, kInfo };

// One line: "ok", "FAIL" or "info", the stage, what was seen and, for a
// failure, what to do next (empty: nothing to add). Written to standard
// output at once, so that a line stands even when a later call hangs.
void ReportLine(Check kind, const char *stage, const std::wstring &fact, const std::wstring &next = std::wstring());

// The closing line.
void ReportVerdict(const std::wstring &verdict);

// Text that a server or the registry handed over (tag names, vendor text,
// error strings, paths), shown by the monitor's rule for names.
std::wstring Shown(const wchar_t *text);

// A result code as "0xC0040007".
std::wstring HexCode(HRESULT code);

// The system's own message for a code on one line, or the empty text.
std::wstring SystemMessage(HRESULT code);
