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

// Receives wide text of a given length (no terminator needed).
typedef void (*TextWriter)(const wchar_t *text, size_t length);

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

// Text gathered for one writer. The writer gets pieces of at most
// GATHER_UNITS units, never cut inside a surrogate pair.
constexpr size_t GATHER_UNITS = 4096;
struct TextGather {
  TextWriter writer;
  size_t used;
  wchar_t text[GATHER_UNITS];
};

void GatherText(TextGather &gather, const wchar_t *text, size_t length);

// Appends a name with every character that could act on a terminal, reorder
// or break the line, or not be seen at all shown as an escape, hex in
// capitals: C0 controls, DEL and C1 controls as \xHH; every character of
// general category Cf, Zl or Zp, with the property
// Default_Ignorable_Code_Point or with the property White_Space but the
// space U+0020 (escaped_code_points.inc), and every surrogate that is not
// half of a pair as \uHHHH, or \UHHHHHHHH beyond U+FFFF. A pair
// is one character, classified whole. A backslash is doubled only where the
// shown text goes on with x, u, U, another backslash or an escape, so every
// shown name reads back to one name and names such as "Line1\Valve" stay
// as they are. Null shows as the empty name.
void GatherName(TextGather &gather, const wchar_t *name);

void FlushGather(TextGather &gather);

// Converts UTF-16 to UTF-8 into a caller-owned buffer, always terminated;
// unpaired surrogates become U+FFFD. Returns the number of bytes written,
// without the terminator; text that does not fit is cut at a whole
// character.
size_t WideToUtf8(const wchar_t *text, size_t length, char *buffer, size_t capacity);
