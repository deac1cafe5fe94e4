// The report's lines; see report.h. They go to standard output past the
// monitor's own lines, which opcdiag does not show: wide text to a
// console, UTF-8 to a file or pipe.
#include "report.h"

#include <windows.h>

#include "output.h"

namespace {

// Ready before main: the walk and the watchdog start after it.
struct Lock {
  Lock() { InitializeCriticalSection(&section); }
  CRITICAL_SECTION section;
} g_lock;

}  // namespace

void LockReport() { EnterCriticalSection(&g_lock.section); }
void UnlockReport() { LeaveCriticalSection(&g_lock.section); }

void ReportText(const std::wstring &text) {
  LockReport();
  WriteStandardOutput(text.c_str(), text.size());
  UnlockReport();
}

void ReportLine(Check kind, const char *stage, const std::wstring &fact, const std::wstring &next) {
  std::wstring line = kind == Check::kOk ? L"ok    " : kind == Check::kFail ? L"FAIL  " : L"info  ";
  std::wstring stageText = Widened(stage);
  if (stageText.size() < 12) stageText.resize(12, L' ');
  line += stageText + L" " + fact;
  if (!next.empty()) line += L"; next: " + next;
  ReportText(line + L"\n");
}

void ReportLines(const Decision &decision) {
  for (const Line &line : decision.lines) ReportLine(line.kind, line.stage, line.fact, line.next);
}

void ReportVerdict(const std::wstring &verdict) { ReportText(L"verdict: " + verdict + L"\n"); }

std::wstring SystemText(Code code) {
  wchar_t *message = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t *>(&message), 0, nullptr);
  std::wstring text;
  if (length > 0 && message != nullptr) text.assign(message, length);
  LocalFree(message);
  return text;
}
