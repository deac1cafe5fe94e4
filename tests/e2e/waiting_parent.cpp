// waiting_parent.exe PROGRAM ARGUMENT: starts PROGRAM with ARGUMENT and
// waits for it to end, and does nothing else; a parent for a program that
// must not be the child of the process it serves. (Wine's start.exe is no
// such parent: its end ends what it started.)
#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
  int count = 0;
  LPWSTR *arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count != 3) return 2;
  std::wstring command = L"\"" + std::wstring(arguments[1]) + L"\" " + arguments[2];
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(arguments[1], &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    return 2;
  }
  WaitForSingleObject(started.hProcess, INFINITE);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  LocalFree(arguments);
  return 0;
}
