// Standard output and console device writers; see output.h.
#include "output.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

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

}  // namespace

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

void WriteStandardOutput(const wchar_t *text, size_t length) {
  GatherText(g_stdout, text, length);
  FlushGather(g_stdout);
}

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
