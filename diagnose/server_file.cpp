// Finding and reading a server's file; see server_file.h.
#include "server_file.h"

#include <cwchar>
#include <vector>

#include "class_keys.h"

namespace {

bool SameText(const std::wstring &a, const std::wstring &b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::wstring SystemFolder(UINT(WINAPI *folder)(LPWSTR, UINT)) {
  wchar_t text[MAX_PATH + 1] = L"";
  const UINT length = folder(text, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(text, length) : std::wstring();
}

// A path into the system folder means the folder of the view's own
// architecture; this process's file system redirection would show it the
// folder of its own instead.
std::wstring InView(const std::wstring &path, REGSAM view) {
  const std::wstring system = SystemFolder(GetSystemDirectoryW);
  if (system.empty() || path.size() <= system.size() || path[system.size()] != L'\\' ||
      !SameText(path.substr(0, system.size()), system) || ViewOfMachine(OwnMachine()) == view) {
    return path;
  }
  std::wstring folder;
  if (view == KEY_WOW64_32KEY) {
    folder = SystemFolder(GetSystemWow64DirectoryW);
  } else if (TwoViews()) {
    // A 32-bit process reaches the 64-bit system folder by this alias only.
    folder = SystemFolder(GetWindowsDirectoryW);
    if (!folder.empty()) folder += L"\\Sysnative";
  }
  return folder.empty() ? path : folder + path.substr(system.size());
}

bool IsFile(const std::wstring &path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A name without a folder is looked for as the loader or CreateProcess
// would, along the search path.
bool Find(const std::wstring &named, const wchar_t *extension, REGSAM view, std::wstring *found) {
  if (named.empty()) return false;
  if (named.find_first_of(L"\\/:") != std::wstring::npos) {
    *found = InView(named, view);
    return IsFile(*found);
  }
  const DWORD length = SearchPathW(nullptr, named.c_str(), extension, 0, nullptr, nullptr);
  if (length == 0) return false;
  std::vector<wchar_t> buffer(length);
  const DWORD written = SearchPathW(nullptr, named.c_str(), extension, length, buffer.data(), nullptr);
  if (written == 0 || written >= length) return false;
  *found = InView(std::wstring(buffer.data(), written), view);
  return IsFile(*found);
}

// The machine its PE header names, read from the headers alone; 0 for a
// file that is no program. Every offset is checked against what was read.
WORD ReadMachine(const std::wstring &path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  WORD machine = 0;
  IMAGE_DOS_HEADER dos = {};
  DWORD read = 0;
  if (ReadFile(file, &dos, sizeof dos, &read, nullptr) && read == sizeof dos && dos.e_magic == IMAGE_DOS_SIGNATURE &&
      dos.e_lfanew >= static_cast<LONG>(sizeof dos)) {
    LARGE_INTEGER at;
    at.QuadPart = dos.e_lfanew;
    DWORD signature = 0;
    IMAGE_FILE_HEADER header = {};
    if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
        ReadFile(file, &signature, sizeof signature, &read, nullptr) && read == sizeof signature &&
        signature == IMAGE_NT_SIGNATURE && ReadFile(file, &header, sizeof header, &read, nullptr) &&
        read == sizeof header) {
      machine = header.Machine;
    }
  }
  CloseHandle(file);
  return machine;
}

}  // namespace

ServerFile LocateServerFile(const std::wstring &value, int commandLine, REGSAM view) {
  ServerFile file{};
  const size_t start = value.find_first_not_of(L" \t");
  const std::wstring text = start == std::wstring::npos ? std::wstring() : value.substr(start);
  const wchar_t *extension = commandLine ? L".exe" : L".dll";
  if (!text.empty() && text[0] == L'"') {
    const size_t end = text.find(L'"', 1);
    file.path = text.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
  } else if (commandLine) {
    // Unquoted, the path may hold spaces: as CreateProcess does, the first
    // run of words that names a file is the program, the rest arguments.
    file.path = text.substr(0, text.find(L' '));
    for (size_t end = text.find(L' '); !file.found; end = text.find(L' ', end + 1)) {
      std::wstring found;
      if (Find(text.substr(0, end), extension, view, &found)) {
        file.path = found;
        file.found = 1;
      }
      if (end == std::wstring::npos) break;
    }
  } else {
    file.path = text;
    while (!file.path.empty() && (file.path.back() == L' ' || file.path.back() == L'\t')) file.path.pop_back();
  }
  if (!file.found) {
    std::wstring found;
    if (Find(file.path, extension, view, &found)) {
      file.path = found;
      file.found = 1;
    }
  }
  if (file.found) file.machine = ReadMachine(file.path);
  return file;
}

WORD OwnMachine() {
  static const WORD own = [] {
    std::wstring path;
    return class_keys::ModulePath(nullptr, &path) ? ReadMachine(path) : static_cast<WORD>(0);
  }();
  return own;
}

std::wstring MachineText(WORD machine) {
  switch (machine) {
    case IMAGE_FILE_MACHINE_I386:
      return L"32-bit";
    case IMAGE_FILE_MACHINE_AMD64:
      return L"64-bit";
    case IMAGE_FILE_MACHINE_ARM64:
      return L"ARM64";
    case 0:
      return L"no program";
    default: {
      wchar_t text[24];
      swprintf(text, sizeof text / sizeof text[0], L"machine 0x%04X", static_cast<unsigned>(machine));
      return text;
    }
  }
}

REGSAM ViewOfMachine(WORD machine) { return machine == IMAGE_FILE_MACHINE_I386 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

std::wstring ViewText(REGSAM view) { return view == KEY_WOW64_32KEY ? L"32-bit view" : L"64-bit view"; }

bool TwoViews() {
  BOOL wow64 = FALSE;
  return OwnMachine() != IMAGE_FILE_MACHINE_I386 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}
