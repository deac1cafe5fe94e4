// Standard output and console device writers; see output.h.
#include "output.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Units that fit in `length` without leaving a pair's first half at the
// end when its second half follows.
size_t WholePiece(const wchar_t *text, size_t length, size_t most) {
  if (length <= most) return length;
  return IsHighSurrogate(text[most - 1]) && IsLowSurrogate(text[most]) ? most - 1 : most;
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void WriteWideToConsole(HANDLE console, const wchar_t *text, size_t length) {
  while (length > 0) {
    const DWORD piece = static_cast<DWORD>(WholePiece(text, length, GATHER_UNITS));
    DWORD written = 0;
    if (!WriteConsoleW(console, text, piece, &written, nullptr) || written == 0) return;
    text += written;
    length -= written;
  }
}

void WriteWideToStdout(const wchar_t *text, size_t length) {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (IsConsole(handle)) {
    WriteWideToConsole(handle, text, length);
    return;
  }
  // At most three bytes per unit (a pair is two units and four bytes).
  static char buffer[3 * GATHER_UNITS + 1];
  while (length > 0) {
    const size_t piece = WholePiece(text, length, GATHER_UNITS);
    fwrite(buffer, 1, WideToUtf8(text, piece, buffer, sizeof buffer), stdout);
    text += piece;
    length -= piece;
  }
  fflush(stdout);
}

TextGather g_stdout = {WriteWideToStdout, 0, {}};

void GatherStandardOutput(const wchar_t *text, size_t length) { GatherText(g_stdout, text, length); }

TextWriter g_writer = GatherStandardOutput;

void Put(const wchar_t *text, size_t length) { g_writer(text, length); }

void PutNarrow(const char *text) {
  // Messages are ASCII; each byte is widened as it stands.
  wchar_t buffer[256];
  size_t used = 0;
  for (; *text != '\0'; ++text) {
    buffer[used++] = static_cast<wchar_t>(static_cast<unsigned char>(*text));
    if (used == sizeof buffer / sizeof buffer[0]) {
      Put(buffer, used);
      used = 0;
    }
  }
  if (used > 0) Put(buffer, used);
}

// A full gather goes out, but a pair's first half at its end waits for the
// second.
void WriteFullGather(TextGather &gather) {
  size_t count = gather.used;
  if (count > 1 && IsHighSurrogate(gather.text[count - 1])) --count;
  gather.writer(gather.text, count);
  wmemmove(gather.text, gather.text + count, gather.used - count);
  gather.used -= count;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

struct CodePointRange {
  char32_t first;
  char32_t last;
};

// Characters that are not seen yet change what is shown: they reorder the
// line, break it in some viewers, or take no room, so that two different
// names look alike. Unicode's own properties say which they are.
constexpr CodePointRange kEscapedRanges[] = {
#include "escaped_code_points.inc"
};

// A character of a name: its code point, a pair joined, and its units.
struct NameCharacter {
  char32_t code;
  size_t units;
};

// `at` points into a terminated name, so the unit after it can be read.
NameCharacter CharacterAt(const wchar_t *at) {
  if (IsHighSurrogate(at[0]) && IsLowSurrogate(at[1])) {
    return {0x10000 + ((static_cast<char32_t>(at[0]) - 0xD800) << 10) + (static_cast<char32_t>(at[1]) - 0xDC00), 2};
  }
  return {static_cast<char32_t>(at[0]), 1};
}

// Whether a character is shown as an escape. A surrogate here is one
// without its pair.
bool IsEscaped(char32_t c) {
  if (c >= 0x20 && c < 0x7F) return false;  // printable ASCII, most of every name
  if (IsControl(c) || (c >= 0xD800 && c <= 0xDFFF)) return true;
  const CodePointRange *end = kEscapedRanges + sizeof kEscapedRanges / sizeof kEscapedRanges[0];
  const CodePointRange *after =
      std::upper_bound(kEscapedRanges, end, c, [](char32_t code, const CodePointRange &r) { return code < r.first; });
  return after != kEscapedRanges && c <= after[-1].last;
}

void GatherEscape(TextGather &gather, char32_t c) {
  wchar_t escape[12];
  const int length = IsControl(c)  ? swprintf(escape, 12, L"\\x%02X", static_cast<unsigned>(c))
                     : c > 0xFFFF ? swprintf(escape, 12, L"\\U%08X", static_cast<unsigned>(c))
                                  : swprintf(escape, 12, L"\\u%04X", static_cast<unsigned>(c));
  GatherText(gather, escape, static_cast<size_t>(length));
}

}  // namespace

void GatherText(TextGather &gather, const wchar_t *text, size_t length) {
  while (length > 0) {
    if (gather.used == GATHER_UNITS) WriteFullGather(gather);
    const size_t room = GATHER_UNITS - gather.used;
    const size_t take = length < room ? length : room;
    wmemcpy(gather.text + gather.used, text, take);
    gather.used += take;
    text += take;
    length -= take;
  }
}

void GatherName(TextGather &gather, const wchar_t *name) {
  if (name == nullptr) return;
  const wchar_t *run = name;
  for (const wchar_t *at = name; *at != L'\0';) {
    const NameCharacter c = CharacterAt(at);
    const wchar_t *next = at + c.units;
    if (c.code == U'\\') {
      // Doubled only before what would read as an escape or as a doubled
      // backslash, so that every shown name reads back to one name: it
      // ends this run and starts the next.
      const char32_t after = CharacterAt(next).code;
      if (after == U'\\' || after == U'x' || after == U'u' || after == U'U' || (after != 0 && IsEscaped(after))) {
        GatherText(gather, run, static_cast<size_t>(next - run));
        run = at;
      }
    } else if (IsEscaped(c.code)) {
      GatherText(gather, run, static_cast<size_t>(at - run));
      GatherEscape(gather, c.code);
      run = next;
    }
    at = next;
  }
  GatherText(gather, run, wcslen(run));
}

void FlushGather(TextGather &gather) {
  if (gather.used > 0) gather.writer(gather.text, gather.used);
  gather.used = 0;
}

size_t WideToUtf8(const wchar_t *text, size_t length, char *buffer, size_t capacity) {
  if (capacity == 0) return 0;
  buffer[0] = '\0';
  const int room = static_cast<int>(capacity - 1);
  if (length == 0 || room == 0) return 0;
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), buffer, room, nullptr, nullptr);
  if (bytes <= 0) {
    // Too long: the longest whole-character prefix that fits, measured
    // here, converted by the platform.
    size_t units = 0;
    size_t need = 0;
    while (units < length) {
      const wchar_t c = text[units];
      const bool pair = IsHighSurrogate(c) && units + 1 < length && IsLowSurrogate(text[units + 1]);
      const size_t size = pair ? 4 : (c < 0x80 ? 1 : (c < 0x800 ? 2 : 3));
      if (need + size > static_cast<size_t>(room)) break;
      need += size;
      units += pair ? 2 : 1;
    }
    bytes = units == 0 ? 0
                       : WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), buffer, room, nullptr,
                                             nullptr);
    if (bytes < 0) bytes = 0;
  }
  buffer[bytes] = '\0';
  return static_cast<size_t>(bytes);
}

void PutText(const char *text) { PutNarrow(text); }

void PutLine(const char *text) {
  PutNarrow(text);
  Put(L"\n", 1);
}

void PutWideText(const wchar_t *text) { Put(text, wcslen(text)); }

void PutNameLine(const wchar_t *name) {
  TextGather line;
  line.writer = g_writer;
  line.used = 0;
  GatherName(line, name);
  GatherText(line, L"\n", 1);
  FlushGather(line);
}

void FlushStandardOutput() { FlushGather(g_stdout); }

namespace {

// The polling screen writes thousands of pieces a minute on a large server:
// the device is opened once and kept for the process's life.
HANDLE ConsoleDevice() {
  static HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  return console;
}

void WriteToConsoleDevice(const wchar_t *text, size_t length) {
  HANDLE console = ConsoleDevice();
  if (console != INVALID_HANDLE_VALUE) WriteWideToConsole(console, text, length);
}

TextWriter g_consoleDevice = WriteToConsoleDevice;

}  // namespace

void WriteConsoleDevice(const wchar_t *text, size_t length) {
  FlushStandardOutput();
  g_consoleDevice(text, length);
}

void ClearConsoleDevice() {
  FlushStandardOutput();
  HANDLE console = ConsoleDevice();
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) return;
  const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
  const COORD home = {0, 0};
  DWORD written = 0;
  FillConsoleOutputCharacterW(console, L' ', cells, home, &written);
  FillConsoleOutputAttribute(console, info.wAttributes, cells, home, &written);
  SetConsoleCursorPosition(console, home);
}

bool StandardOutputIsConsole() { return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE)); }

TextWriter SetStandardOutputWriter(TextWriter writer) {
  TextWriter previous = g_writer;
  g_writer = writer != nullptr ? writer : GatherStandardOutput;
  return previous;
}

OutputDevices SetOutputDevices(OutputDevices devices) {
  const OutputDevices previous = {g_stdout.writer, g_consoleDevice};
  g_stdout.writer = devices.standardOutput != nullptr ? devices.standardOutput : WriteWideToStdout;
  g_consoleDevice = devices.consoleDevice != nullptr ? devices.consoleDevice : WriteToConsoleDevice;
  return previous;
}
