// Entry of opcdiag: why the monitor shows what it shows. Reads its
// arguments, then walks the monitor's stages on the monitor's one thread
// (a single-threaded apartment, as the monitor's), with the watchdog and the
// stop requests beside it.
#include <cwchar>

#include "output.h"
#include "registration_facts.h"
#include "report.h"
#include "server_call.h"
#include "server_progid.h"
#include "stop_request.h"
#include "walk.h"

// After windows.h, which the headers above bring in.
#include <shellapi.h>

namespace {

constexpr int USAGE_ERROR = 2;

void PrintUsage() {
  PutText("usage: opcdiag [<ProgID or {CLSID}>] | --list | --help\n");
  PutText("  opcdiag              checks the server the monitor was built for, ");
  PutWideText(SERVER_PROGID);
  PutText("\n  opcdiag <name>       checks the server registered under that ProgID or class\n");
  PutText("  opcdiag --list       lists the OPC DA servers registered on this machine (both registry views)\n");
  PutText("  opcdiag --help       says this\n");
  PutText("It walks the monitor's stages with the monitor's own calls, one line per check (ok, FAIL or info,\n");
  PutText("the stage, what it saw and, for a failure, what to do next), then one verdict line that says what\n");
  PutText("the monitor would show. It changes nothing. A server call without an answer within 10 s ends it:\n");
  PutText("the monitor would hang there. Ctrl+C stops it with the monitor's teardown.\n");
  PutText("Exit status: 0 when the monitor would show records, 1 otherwise, 2 for a usage error.\n");
}

bool IsOption(const wchar_t *argument) { return argument[0] == L'-' || argument[0] == L'/'; }

int Run(int count, wchar_t **arguments) {
  if (count == 2 && (wcscmp(arguments[1], L"--help") == 0 || wcscmp(arguments[1], L"-h") == 0 ||
                     wcscmp(arguments[1], L"/?") == 0)) {
    PrintUsage();
    return 0;
  }
  if (count > 2 || (count == 2 && IsOption(arguments[1]) && wcscmp(arguments[1], L"--list") != 0)) {
    PutText("opcdiag: ");
    PutWideText(count > 2 ? L"one name at most" : (L"unknown option " + Shown(arguments[1])).c_str());
    PutText("\n");
    PrintUsage();
    return USAGE_ERROR;
  }
  (void)CoInitialize(nullptr);
  int status = 0;
  if (count == 2 && wcscmp(arguments[1], L"--list") == 0) {
    (void)ListServers();
  } else {
    StartWatchdog();
    status = WalkStages(count == 2 ? arguments[1] : SERVER_PROGID);
  }
  CoUninitialize();
  return status;
}

}  // namespace

int main() {
  StartStopRequests();
  int count = 0;
  wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const int status = arguments != nullptr ? Run(count, arguments) : USAGE_ERROR;
  LocalFree(arguments);
  FlushStandardOutput();
  FinishStopRequests();
  return status;
}
