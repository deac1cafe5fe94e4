// Everything the monitor writes goes through here, so the bytes of standard
// output stay in the order they were written and wide text (tag names, the
// ProgID, time texts) arrives intact, non-ASCII included:
//  - standard output: wide text through WriteConsoleW when it is a console,
//    UTF-8 through the C runtime's stdout when it is redirected;
//  - the console device (CONOUT$): the polling screen, which stays on screen
//    even when standard output is redirected.
// Every write to a console is a call into the console host, so text is
// gathered into large pieces; standard output goes out on FlushStandardOutput
// and before anything reaches the console device.
#pragma once

#include <cstddef>

#include "escaping.h"

// Standard output. Lines end with "\n" (the C runtime's text mode makes
// that "\r\n" in a redirected file, as on the console).
void PutText(const char *text);
void PutLine(const char *text);
void PutWideText(const wchar_t *text);
// A name a server handed over, shown as GatherName does, then "\n".
void PutNameLine(const wchar_t *name);

// Writes out what standard output has gathered. Due before a key is read,
// before the console is cleared through the command interpreter and before
// the program ends.
void FlushStandardOutput();

// Writes to the console device itself, standard output flushed first;
// silently nothing when the process has no console.
void WriteConsoleDevice(const wchar_t *text, size_t length);

// Clears the console device's screen buffer and puts the cursor home,
// standard output flushed first; nothing when the process has no console.
void ClearConsoleDevice();

// Whether standard output is the console itself rather than a file or pipe.
bool StandardOutputIsConsole();

// Writes to standard output at once, past the writer that
// SetStandardOutputWriter put in place (opcdiag's report, while the
// monitor's own lines go elsewhere).
void WriteStandardOutput(const wchar_t *text, size_t length);

// Replaces the writer behind standard output and returns the previous one;
// null restores the default (the gathering one). Tests use it to see what
// a stage prints.
TextWriter SetStandardOutputWriter(TextWriter writer);

// What the default writers finally write to: standard output as it is
// (console or file) and the console device. Tests put recorders in place
// to see the pieces and their order; null members restore the platform's.
struct OutputDevices {
  TextWriter standardOutput;
  TextWriter consoleDevice;
};
OutputDevices SetOutputDevices(OutputDevices devices);


// Converts UTF-16 to UTF-8 into a caller-owned buffer, always terminated;
// unpaired surrogates become U+FFFD. Returns the number of bytes written,
// without the terminator; text that does not fit is cut at a whole
// character.
size_t WideToUtf8(const wchar_t *text, size_t length, char *buffer, size_t capacity);
