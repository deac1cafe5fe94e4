// What server keys name; see server_paths.h.
#include "server_paths.h"

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

std::wstring DllPath(const std::wstring &value) {
  std::wstring path = value;
  while (!path.empty() && (path.back() == L' ' || path.back() == L'\t')) path.pop_back();
  const size_t start = path.find_first_not_of(L" \t");
  path = start == std::wstring::npos ? std::wstring() : path.substr(start);
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
  return path;
}

ProgramPaths ProgramPathsOf(const std::wstring &commandLine) {
  ProgramPaths found{{}, false};
  const size_t start = commandLine.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return found;
  std::wstring text = commandLine.substr(start);
  if (text[0] == L'"') {
    found.paths.push_back(text.substr(1, text.find(L'"', 1) - 1));
    return found;
  }
  text.erase(text.find_last_not_of(L" \t") + 1);
  for (size_t at = text.find(L' ');; at = text.find(L' ', at + 1)) {
    if (at != std::wstring::npos && text[at - 1] == L' ') continue;  // a run of spaces ends one word
    if (found.paths.size() == MOST_PROGRAM_PATHS) {
      found.cut = true;
      return found;
    }
    found.paths.push_back(text.substr(0, at));
    if (at == std::wstring::npos) return found;
  }
}

PeHeader ReadPeHeader(ReadAt read, void *file) {
  unsigned char dos[64], nt[24];
  if (read(file, 0, dos, sizeof dos) != sizeof dos || dos[0] != 'M' || dos[1] != 'Z') return {0, 0};
  const int32_t at = static_cast<int32_t>(static_cast<uint32_t>(dos[0x3C]) | static_cast<uint32_t>(dos[0x3D]) << 8 |
                                          static_cast<uint32_t>(dos[0x3E]) << 16 | static_cast<uint32_t>(dos[0x3F]) << 24);
  // Negative or inside the DOS header: no program the loader would take.
  if (at < static_cast<int32_t>(sizeof dos)) return {0, 0};
  if (read(file, static_cast<uint64_t>(at), nt, sizeof nt) != sizeof nt || nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 ||
      nt[3] != 0) {
    return {0, 0};
  }
  const uint16_t characteristics = static_cast<uint16_t>(nt[22] | nt[23] << 8);
  return {static_cast<uint16_t>(nt[4] | nt[5] << 8), (characteristics & 0x2000) != 0};  // IMAGE_FILE_DLL
}
