// The call in progress and the watchdog; see server_call.h. The walk's
// thread writes the mark, the watchdog's thread only reads it; the mark's
// tick count is written last and read first and last, so a report never
// mixes one call's name with another's time.
#include "server_call.h"

#include <atomic>
#include <string>

#include "output.h"
#include "report.h"

namespace {

std::atomic<const ServerCall *> g_call{nullptr};
std::atomic<LONG> g_tag{-1};
// Tick count of the call's start plus one; 0 while no call is in progress.
std::atomic<ULONGLONG> g_since{0};
std::atomic<const TagNameTable *> g_names{nullptr};

void ReportHung(const ServerCall &call, LONG tag) {
  std::wstring what = call.name;
  const TagNameTable *names = g_names.load();
  if (tag >= 0 && names != nullptr) what += L" of " + TagText(*names, tag);
  // The walk's thread is inside the call: standard output is idle and
  // holds nothing back, unless a stage had turned it off.
  (void)SetStandardOutputWriter(nullptr);
  ReportLine(Check::kFail, call.stage, what + L": no answer within 10 s",
             L"the server's own diagnostics");
  ReportVerdict(call.monitorMakes ? L"the monitor hangs in " + what + L": no answer within 10 s"
                                  : L"the server gives no answer to " + what +
                                        L" within 10 s, a call the monitor does not make; its own calls may "
                                        L"hang the same way");
  FlushStandardOutput();
  // Not ExitProcess: it would wait for the loader lock and notify the DLLs,
  // an in-process server among them, whose thread is the hung one.
  TerminateProcess(GetCurrentProcess(), 1);
}

DWORD WINAPI Watch(void *) {
  for (;;) {
    Sleep(100);
    const ULONGLONG since = g_since.load();
    if (since == 0 || GetTickCount64() + 1 - since < CALL_LIMIT_MS) continue;
    const ServerCall *call = g_call.load();
    const LONG tag = g_tag.load();
    if (call != nullptr && g_since.load() == since) ReportHung(*call, tag);
  }
}

}  // namespace

void CallStarted(const ServerCall &call, LONG tag) {
  g_since.store(0);
  g_call.store(&call);
  g_tag.store(tag);
  g_since.store(GetTickCount64() + 1);
}

void CallEnded() { g_since.store(0); }

void WatchTagNames(const TagNameTable *names) { g_names.store(names); }

int StartWatchdog() {
  HANDLE thread = CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr);
  if (thread == nullptr) return 0;
  CloseHandle(thread);
  return 1;
}

std::wstring TagText(const TagNameTable &names, LONG tag) {
  std::wstring text = L"tag " + std::to_wstring(tag + 1) + L" of " + std::to_wstring(names.count);
  if (tag >= 0 && tag < names.count && names.entries[tag] != nullptr) {
    text += L", " + Shown(names.entries[tag]);
  }
  return text;
}
