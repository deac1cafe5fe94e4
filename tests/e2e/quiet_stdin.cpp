// quiet_stdin.exe PROGRAM: runs PROGRAM on this console with standard input
// the read end of a pipe that never gets a byte and stays open until
// PROGRAM ends, as behind a producer that has nothing to say; ends with
// PROGRAM's exit status. Ctrl+C and Ctrl+Break are left to PROGRAM.
#include <windows.h>
#include <shellapi.h>

namespace {

BOOL WINAPI OutliveTheProgram(DWORD) { return TRUE; }

}  // namespace

int main() {
  int count = 0;
  LPWSTR *arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count != 2) return 2;
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  if (!CreatePipe(&reader, &writer, &inherited, 0) || !SetHandleInformation(writer, HANDLE_FLAG_INHERIT, 0)) return 2;
  (void)SetConsoleCtrlHandler(OutliveTheProgram, TRUE);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = reader;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(arguments[1], nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
    return 2;
  }
  CloseHandle(reader);
  WaitForSingleObject(started.hProcess, INFINITE);
  DWORD status = 2;
  (void)GetExitCodeProcess(started.hProcess, &status);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  CloseHandle(writer);
  LocalFree(arguments);
  return static_cast<int>(status);
}
