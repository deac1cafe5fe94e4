// Entry of opcdiag: why the monitor shows what it shows. Reads its
// arguments, then walks the monitor's stages on the monitor's one thread
// (a single-threaded apartment, as the monitor's), with the watchdog and the
// stop requests beside it. The monitor's own lines, which its calls print,
// are not shown: the report says what they would be.
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

void Discard(const wchar_t *, size_t) {}

void PrintUsage() {
  ReportText(std::wstring(L"usage: opcdiag [<ProgID or {CLSID}>] | --list | --help\n"
                          L"  opcdiag              checks the server the monitor was built for, ") +
             SERVER_PROGID +
             L"\n  opcdiag <name>       checks the server registered under that ProgID or class\n"
             L"  opcdiag --list       lists the OPC DA servers registered on this machine (both registry views)\n"
             L"  opcdiag --help       says this\n"
             L"It walks the monitor's stages with the monitor's own calls, one line per check (ok, FAIL or info,\n"
             L"the stage, what it saw and, for a failure, what to do next), then one verdict line that says what\n"
             L"the monitor would show. It changes nothing. A call that has not answered is said to be waited for\n"
             L"after 5 s; after 60 s without an answer (150 s for the activation, longer than COM waits for a\n"
             L"server to start) opcdiag reports it and ends. Ctrl+C stops it with the monitor's teardown.\n"
             L"Exit status: 0 when the monitor would show records, 1 otherwise, 2 for a usage error.\n");
}

int Run(int count, wchar_t **arguments) {
  const wchar_t *argument = count == 2 ? arguments[1] : L"";
  if (wcscmp(argument, L"--help") == 0 || wcscmp(argument, L"-h") == 0 || wcscmp(argument, L"/?") == 0) {
    PrintUsage();
    return 0;
  }
  const bool list = wcscmp(argument, L"--list") == 0;
  if (count > 2 || ((argument[0] == L'-' || argument[0] == L'/') && !list)) {
    ReportText(L"opcdiag: " + (count > 2 ? L"one name at most" : L"unknown option " + Shown(argument)) + L"\n");
    PrintUsage();
    return USAGE_ERROR;
  }
  (void)CoInitialize(nullptr);
  StartWatchdog();
  int status = 0;
  if (list) {
    const ServerCall registry = {"servers", L"reading the registry", false, 60};
    CallStarted(registry);
    (void)ListServers();
    CallEnded();
  } else {
    status = WalkStages(count == 2 ? argument : SERVER_PROGID);
  }
  CoUninitialize();
  return status;
}

}  // namespace

int main() {
  StartStopRequests();
  (void)SetStandardOutputWriter(Discard);
  int count = 0;
  wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const int status = arguments != nullptr ? Run(count, arguments) : USAGE_ERROR;
  LocalFree(arguments);
  FinishStopRequests();
  return status;
}
