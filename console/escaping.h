// How text that a server or the registry handed over is shown (escapes for
// every character that could act on a terminal or not be seen), and text
// gathered into large pieces for a writer. Plain computation, no platform
// calls, so that it builds and is tested on any host.
#pragma once

#include <cstddef>
#include <string>

// Receives wide text of a given length (no terminator needed).
typedef void (*TextWriter)(const wchar_t *text, size_t length);

inline bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A character of a text: its code point, a pair joined, and its units.
struct NameCharacter {
  char32_t code;
  size_t units;
};
// `at` points into a terminated text, so the unit after it can be read.
NameCharacter CharacterAt(const wchar_t *at);

// Whether a character is shown as an escape (see GatherName). A surrogate
// here is one without its pair.
bool IsEscaped(char32_t c);

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

// Text a server or the registry handed over, as GatherName shows it.
std::wstring Shown(const std::wstring &text);
// A path as it stands, so that it can be typed back: a character GatherName
// would escape, and "<" itself, as <U+XXXX>, which no path holds.
std::wstring ShownPath(const std::wstring &path);
// One line: line breaks inside become spaces, trailing breaks and blanks go.
std::wstring Normalised(const std::wstring &text);
// ASCII text, each byte widened as it stands.
std::wstring Widened(const char *text);
