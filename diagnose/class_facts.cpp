// Reading a class's keys in both views and the files they name; see
// class_facts.h.
#include "class_facts.h"

#include <objbase.h>

#include <cwchar>

#include "class_keys.h"
#include "stop_request.h"

namespace {

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
      !class_keys::SameName(path.substr(0, system.size()), system) || class_keys::OwnView() == view) {
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

// One path a key may mean, where the loader or CreateProcess would find it
// for a process of the view's architecture.
ServerFile Look(const std::wstring &named, const wchar_t *extension, REGSAM view) {
  ServerFile file{named, PathForm::kEmpty, false, 0, {0, 0}, false};
  file.form = class_keys::LocateFile(named, extension, &file.path, &file.found);
  const std::wstring inView = file.form == PathForm::kLocal ? InView(file.path, view) : file.path;
  if (inView != file.path) file.found = class_keys::IsFile(file.path = inView);
  return file;
}

size_t ReadFileAt(void *handle, uint64_t offset, unsigned char *into, size_t size) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  return ReadFile(static_cast<HANDLE>(handle), into, static_cast<DWORD>(size), &read, &at) ? read : 0;
}

// Opened for its data only, so that a server behind the name cannot act as
// the user (no impersonation), and read only when it is a file on a disk.
void ReadHeader(ServerFile &file) {
  HANDLE handle =
      CreateFileW(file.path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    file.openError = GetLastError();
    return;
  }
  if (GetFileType(handle) == FILE_TYPE_DISK) {
    file.header = ReadPeHeader(ReadFileAt, handle);
  } else {
    file.form = PathForm::kDevice;
  }
  CloseHandle(handle);
}

}  // namespace

ServerFile LocateServerFile(const std::wstring &value, int commandLine, REGSAM view) {
  const ProgramPaths named = commandLine ? ProgramPathsOf(value) : ProgramPaths{{DllPath(value)}, false};
  for (const std::wstring &path : named.paths) {
    ServerFile file = Look(path, commandLine ? L".exe" : L".dll", view);
    file.cut = named.cut;
    if (file.found) ReadHeader(file);
    // What CreateProcess or the loader would try next is not looked at
    // once a path is of a form that is never opened.
    if (file.found || (file.form != PathForm::kLocal && file.form != PathForm::kBareName)) return file;
  }
  // Nothing there: named as far as it was tried (a command line whole).
  std::wstring shown = named.paths.empty() ? std::wstring() : named.paths.back() + (named.cut ? L" ..." : L"");
  return ServerFile{shown, FormOfPath(shown), false, 0, {0, 0}, named.cut};
}

std::wstring MachineText(WORD machine) {
  if (machine == 0) return L"no program";
  if (machine == IMAGE_FILE_MACHINE_I386) return L"32-bit";
  if (machine == IMAGE_FILE_MACHINE_AMD64) return L"64-bit";
  if (machine == IMAGE_FILE_MACHINE_ARM64) return L"ARM64";
  wchar_t text[24];
  swprintf(text, sizeof text / sizeof text[0], L"machine 0x%04X", static_cast<unsigned>(machine));
  return text;
}

REGSAM ViewOfMachine(WORD machine) { return machine == IMAGE_FILE_MACHINE_I386 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

std::wstring ViewText(REGSAM view) { return view == KEY_WOW64_32KEY ? L"32-bit view" : L"64-bit view"; }

bool TwoViews() {
  BOOL wow64 = FALSE;
  return OwnMachine() != IMAGE_FILE_MACHINE_I386 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

std::vector<REGSAM> RegistryViews() {
  return TwoViews() ? std::vector<REGSAM>{KEY_WOW64_64KEY, KEY_WOW64_32KEY} : std::vector<REGSAM>{KEY_WOW64_32KEY};
}

ClassFacts ReadClass(const std::wstring &clsid) {
  ClassFacts facts;
  const std::wstring key = L"CLSID\\" + clsid;
  for (REGSAM view : RegistryViews()) {
    if (StopRequested() || !class_keys::Exists(key, view)) continue;
    facts.views.push_back(view);
    if (facts.description.empty()) class_keys::ReadString(key, nullptr, &facts.description, view);
    if (facts.progid.empty()) class_keys::ReadString(key + L"\\ProgID", nullptr, &facts.progid, view);
    for (int local = 0; local < 2; ++local) {
      ClassServer server{view, local, L"", {}};
      const std::wstring serverKey = key + (local ? L"\\LocalServer32" : L"\\InprocServer32");
      if (!class_keys::ReadPath(serverKey, &server.value, view) && !class_keys::Exists(serverKey, view)) continue;
      server.file = LocateServerFile(server.value, local, view);
      facts.servers.push_back(server);
    }
    std::wstring appid;
    GUID guid;
    if (class_keys::ReadString(key, L"AppID", &appid, view) && class_keys::ParseGuid(appid, &guid)) {
      const std::wstring app = L"AppID\\" + class_keys::GuidText(guid);
      if (facts.remote.empty()) class_keys::ReadString(app, L"RemoteServerName", &facts.remote, view);
      if (facts.service.empty()) class_keys::ReadString(app, L"LocalService", &facts.service, view);
    }
  }
  return facts;
}
