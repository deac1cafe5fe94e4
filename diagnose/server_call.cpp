// The call in progress and the watchdog; see server_call.h. The walk's
// thread writes the mark, the watchdog's thread reads it under the
// report's lock, which CallEnded takes too: the watchdog never reports a
// call that has answered, and a call that answers while it is reported
// waits (for ever, once the watchdog ends the process).
#include "server_call.h"

#include <atomic>
#include <cwchar>

#include "report.h"

namespace {

std::atomic<const ServerCall *> g_call{nullptr};
std::atomic<LONG> g_tag{-1};
// Tick count of the call's start plus one; 0 while no call is in progress.
std::atomic<ULONGLONG> g_since{0};
std::atomic<const TagNameTable *> g_names{nullptr};
std::atomic<bool> g_server{false}, g_group{false};
std::atomic<LONG> g_items{0};
// Read and written under the report's lock.
std::wstring g_subject = L"the monitor", g_decided;
int g_status = 1;

std::wstring Waited(const ServerCall &call, LONG tag) {
  std::wstring what = call.name;
  const TagNameTable *names = g_names.load();
  if (tag >= 0 && names != nullptr) what += L" of " + TagText(*names, tag);
  return what;
}

// With the report's lock held; does not return.
void ReportUnanswered(const ServerCall &call, LONG tag) {
  const std::wstring what = Waited(call, tag);
  // The registry's reads ("reading the registry ...") are no server's.
  const bool registry = std::wcsncmp(call.name, L"reading", 7) == 0;
  ReportLine(Check::kFail, call.stage, what + L": no answer within " + std::to_wstring(call.limitSeconds) + L" s",
             registry ? L"" : L"the server's own diagnostics");
  const bool stands = !call.monitorMakes && !g_decided.empty();
  ReportVerdict(HungVerdict(call, what, g_subject, stands ? g_decided : L"",
                            LeftBehind(g_server.load(), g_group.load(), g_items.load())));
  // Not ExitProcess: it would wait for the loader lock and notify the DLLs,
  // an in-process server among them, whose thread is the hung one.
  TerminateProcess(GetCurrentProcess(), stands ? static_cast<UINT>(g_status) : 1);
}

DWORD WINAPI Watch(void *) {
  ULONGLONG seen = 0;  // the start of the call whose waiting lines were said
  ULONGLONG said = 0;  // and after how many seconds the last one was
  for (;;) {
    Sleep(200);
    LockReport();
    const ULONGLONG since = g_since.load();
    if (since != 0) {
      const ServerCall &call = *g_call.load();
      const ULONGLONG seconds = (GetTickCount64() + 1 - since) / 1000;
      if (since != seen) seen = since, said = 0;
      if (seconds >= call.limitSeconds) ReportUnanswered(call, g_tag.load());
      // After 5 s, 15 s, 30 s, then every 30 s.
      const ULONGLONG due = said == 0 ? 5 : said == 5 ? 15 : said + (said < 30 ? 15 : 30);
      if (seconds >= due) {
        said = due;
        ReportLine(Check::kInfo, "waiting",
                   Waited(call, g_tag.load()) + L": no answer yet after " + std::to_wstring(due) +
                       L" s; opcdiag waits " + std::to_wstring(call.limitSeconds) + L" s for it");
      }
    }
    UnlockReport();
  }
}

}  // namespace

void CallStarted(const ServerCall &call, LONG tag) {
  g_since.store(0);
  g_call.store(&call);
  g_tag.store(tag);
  g_since.store(GetTickCount64() + 1);
}

void CallEnded() {
  LockReport();
  g_since.store(0);
  UnlockReport();
}

void WatchTagNames(const TagNameTable *names) { g_names.store(names); }

void Holding(bool server, bool group, LONG items) {
  g_server.store(server);
  g_group.store(group);
  g_items.store(items);
}

void Decided(const std::wstring &subject, const std::wstring &verdict, int status) {
  LockReport();
  g_subject = subject;
  g_decided = verdict;
  g_status = status;
  UnlockReport();
}

int StartWatchdog() {
  HANDLE thread = CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
  return thread != nullptr;
}

std::wstring TagText(const TagNameTable &names, LONG tag) {
  std::wstring text = L"tag " + std::to_wstring(tag + 1) + L" of " + std::to_wstring(names.count);
  if (tag >= 0 && tag < names.count && names.entries[tag] != nullptr) text += L", " + Shown(names.entries[tag]);
  return text;
}
