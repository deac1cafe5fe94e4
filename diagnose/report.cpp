// The report's lines; everything goes through the console module, which
// writes wide text to a console and UTF-8 to a file or pipe.
#include "report.h"

#include <cwchar>

#include "output.h"

namespace {

std::wstring *g_shown = nullptr;

void AppendShown(const wchar_t *text, size_t length) { g_shown->append(text, length); }

void PutWide(const std::wstring &text) {
  PutWideText(text.c_str());
  FlushStandardOutput();
}

}  // namespace

void ReportLine(Check kind, const char *stage, const std::wstring &fact, const std::wstring &next) {
  std::wstring line = kind == Check::kOk ? L"ok    " : kind == Check::kFail ? L"FAIL  " : L"info  ";
  std::wstring stageText;
  for (const char *at = stage; *at != '\0'; ++at) stageText += static_cast<wchar_t>(static_cast<unsigned char>(*at));
  if (stageText.size() < 12) stageText.resize(12, L' ');
  line += stageText + L" " + fact;
  if (!next.empty()) line += L"; next: " + next;
  PutWide(line + L"\n");
}

void ReportVerdict(const std::wstring &verdict) { PutWide(L"verdict: " + verdict + L"\n"); }

std::wstring Shown(const wchar_t *text) {
  std::wstring shown;
  std::wstring *outer = g_shown;
  g_shown = &shown;
  TextGather gather;
  gather.writer = AppendShown;
  gather.used = 0;
  GatherName(gather, text);
  FlushGather(gather);
  g_shown = outer;
  return shown;
}

std::wstring HexCode(HRESULT code) {
  wchar_t text[16];
  swprintf(text, sizeof text / sizeof text[0], L"0x%08lX", static_cast<unsigned long>(code));
  return text;
}

std::wstring SystemMessage(HRESULT code) {
  wchar_t *message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t *>(&message), 0, nullptr);
  std::wstring text;
  if (length > 0 && message != nullptr) text.assign(message, length);
  LocalFree(message);
  // One line: the system's text ends with a line break, some hold several.
  for (wchar_t &c : text) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  while (!text.empty() && text.back() == L' ') text.pop_back();
  return Shown(text.c_str());
}
