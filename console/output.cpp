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

const DWORD kReplacement = 0xFFFD;

size_t EncodeUtf8(DWORD cp, char *out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void WriteWideToConsole(HANDLE console, const wchar_t *text, size_t length) {
  while (length > 0) {
    DWORD chunk = length > 4096 ? 4096 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteConsoleW(console, text, chunk, &written, nullptr) || written == 0) return;
    text += written;
    length -= written;
  }
}

void WriteWideToStdout(const wchar_t *text, size_t length) {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (IsConsole(handle)) {
    fflush(stdout);
    WriteWideToConsole(handle, text, length);
    return;
  }
  char buffer[1024];
  while (length > 0) {
    // A slice never splits a surrogate pair, so each one encodes on its own.
    size_t slice = length > 256 ? 256 : length;
    if (slice < length && text[slice - 1] >= 0xD800 && text[slice - 1] <= 0xDBFF) --slice;
    size_t bytes = WideToUtf8(text, slice, buffer, sizeof buffer);
    fwrite(buffer, 1, bytes, stdout);
    text += slice;
    length -= slice;
  }
  fflush(stdout);
}

TextWriter g_writer = WriteWideToStdout;

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
  size_t used = 0;
  for (size_t i = 0; i < length; ++i) {
    DWORD cp = static_cast<unsigned short>(text[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<unsigned short>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    char encoded[4];
    size_t n = EncodeUtf8(cp, encoded);
    if (used + n + 1 > capacity) break;
    memcpy(buffer + used, encoded, n);
    used += n;
  }
  buffer[used] = '\0';
  return used;
}

void PutText(const char *text) { PutNarrow(text); }

void PutLine(const char *text) {
  PutNarrow(text);
  Put(L"\n", 1);
}

void PutWideText(const wchar_t *text) { Put(text, wcslen(text)); }

void PutWideLine(const wchar_t *text) {
  Put(text, wcslen(text));
  Put(L"\n", 1);
}

namespace {

// The polling screen writes one record at a time, thousands a second on a
// large server: the device is opened once and kept for the process's life.
HANDLE ConsoleDevice() {
  static HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  return console;
}

}  // namespace

void WriteConsoleDevice(const wchar_t *text, size_t length) {
  HANDLE console = ConsoleDevice();
  if (console == INVALID_HANDLE_VALUE) return;
  fflush(stdout);
  WriteWideToConsole(console, text, length);
}

void ClearConsoleDevice() {
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
  g_writer = writer != nullptr ? writer : WriteWideToStdout;
  return previous;
}
