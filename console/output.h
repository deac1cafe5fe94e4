// Everything the monitor writes goes through here, so the bytes of standard
// output stay in the order they were written and wide text (tag names, the
// ProgID, time texts) arrives intact, non-ASCII included:
//  - standard output: wide text through WriteConsoleW when it is a console,
//    UTF-8 through the C runtime's stdout when it is redirected;
//  - the console device (CONOUT$): the polling screen, which stays on screen
//    even when standard output is redirected.
#pragma once

#include <cstddef>

// Receives wide text of a given length (no terminator needed).
typedef void (*TextWriter)(const wchar_t *text, size_t length);

// Standard output. Lines end with "\n" (the C runtime's text mode makes
// that "\r\n" in a redirected file, as on the console).
void PutText(const char *text);
void PutLine(const char *text);
void PutWideText(const wchar_t *text);
void PutWideLine(const wchar_t *text);

// Writes to the console device itself; silently nothing when the process
// has no console.
void WriteConsoleDevice(const wchar_t *text, size_t length);

// Clears the console device's screen buffer and puts the cursor home;
// nothing when the process has no console.
void ClearConsoleDevice();

// Whether standard output is the console itself rather than a file or pipe.
bool StandardOutputIsConsole();

// Replaces the writer behind standard output and returns the previous one;
// null restores the default. Tests use it to see what a stage prints.
TextWriter SetStandardOutputWriter(TextWriter writer);

// Converts UTF-16 to UTF-8 into a caller-owned buffer, always terminated;
// unpaired surrogates become U+FFFD. Returns the number of bytes written,
// without the terminator; text that does not fit is cut at a whole
// character.
size_t WideToUtf8(const wchar_t *text, size_t length, char *buffer, size_t capacity);
