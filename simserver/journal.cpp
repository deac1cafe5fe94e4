// The journal file: opened, appended to and closed per line, so a client
// that dies leaves every line written before.
#include "journal.h"

#include <windows.h>

#include <cstring>

namespace simserver {

void Journal(const char *line) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"BRENVICK_SIM_JOURNAL", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  (void)WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  (void)WriteFile(file, "\n", 1, &written, nullptr);
  CloseHandle(file);
}

}  // namespace simserver
