// The forms of paths; see path_form.h.
#include "path_form.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool StartsWith(const std::wstring &text, const wchar_t *prefix) {
  for (size_t i = 0; prefix[i] != L'\0'; ++i) {
    if (i >= text.size() || (IsSeparator(prefix[i]) ? !IsSeparator(text[i]) : Upper(text[i]) != prefix[i])) return false;
  }
  return true;
}

// A file name that is a device wherever it stands: CON, PRN, AUX, NUL,
// COM0-9, LPT0-9 (superscript digits too), CONIN$, CONOUT$, with or without
// an extension.
bool IsDeviceName(std::wstring name) {
  name = name.substr(0, name.find(L'.'));
  while (!name.empty() && name.back() == L' ') name.pop_back();
  for (wchar_t &c : name) c = Upper(c);
  if (name == L"CON" || name == L"PRN" || name == L"AUX" || name == L"NUL" || name == L"CONIN$" ||
      name == L"CONOUT$") {
    return true;
  }
  const wchar_t last = name.empty() ? 0 : name.back();
  const bool digit = (last >= L'0' && last <= L'9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
  return name.size() == 4 && digit && (name.compare(0, 3, L"COM") == 0 || name.compare(0, 3, L"LPT") == 0);
}

}  // namespace

PathForm FormOfPath(const std::wstring &path) {
  if (path.empty()) return PathForm::kEmpty;
  if (StartsWith(path, L"\\\\.\\PIPE\\") || StartsWith(path, L"\\\\?\\PIPE\\")) return PathForm::kPipe;
  if (StartsWith(path, L"\\\\.\\") || StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\??\\")) {
    return PathForm::kDevicePath;
  }
  if (StartsWith(path, L"\\\\")) return PathForm::kNetwork;
  size_t name = path.size();
  while (name > 0 && !IsSeparator(path[name - 1])) --name;
  if (IsDeviceName(path.substr(name)) || path.find(L':', 2) != std::wstring::npos) return PathForm::kDevice;
  const bool drive = path.size() >= 2 && path[1] == L':' && Upper(path[0]) >= L'A' && Upper(path[0]) <= L'Z';
  if (drive && path.size() > 2 && IsSeparator(path[2])) return PathForm::kLocal;
  return drive || name > 0 ? PathForm::kRelative : PathForm::kBareName;
}

const wchar_t *PathFormText(PathForm form) {
  switch (form) {
    case PathForm::kNetwork:
      return L"a network path";
    case PathForm::kPipe:
      return L"a named pipe";
    case PathForm::kDevicePath:
      return L"a \\\\.\\ or \\\\?\\ path";
    case PathForm::kDevice:
      return L"a device name or a file's stream";
    default:
      return L"a path";
  }
}
