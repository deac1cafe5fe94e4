#include "read_log.h"

#include <windows.h>

#include <cstdio>

namespace simserver {
namespace {

HANDLE OpenLog() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"BRENVICK_SIM_READ_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return INVALID_HANDLE_VALUE;
  return CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

void NoteFirstTagRead() {
  // Opened once and left to the process's end: a read must stay cheap.
  static const HANDLE log = OpenLog();
  if (log == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER frequency;
  LARGE_INTEGER now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  char line[32];
  const int length = snprintf(line, sizeof line, "%.3f\n", static_cast<double>(now.QuadPart) * 1000.0 /
                                                                 static_cast<double>(frequency.QuadPart));
  DWORD written = 0;
  if (length > 0) WriteFile(log, line, static_cast<DWORD>(length), &written, nullptr);
}

}  // namespace simserver
