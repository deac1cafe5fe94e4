// /RegServer and /UnregServer of simserver.exe. Keys that name another class
// or ProgID are never replaced; only our own are removed. simserver.dll
// shares the class and the ProgID (its InprocServer32 beside our
// LocalServer32), so each leaves what the other still needs.
#include <olectl.h>

#include <new>
#include <string>

#include "class_keys.h"
#include "local_server.h"
#include "opcda.h"
#include "simserver_clsid.h"

namespace simserver {
namespace {

constexpr wchar_t kDescription[] = L"Brenvick OPC DA Simulation Server";

std::wstring ClassKey() { return L"CLSID\\" + class_keys::GuidText(CLSID_BrenvickSimServer); }

// Whether a server of either architecture is still registered for the class.
bool ClassServedInAnyView() {
  const std::wstring class_key = ClassKey();
  for (const REGSAM view : {static_cast<REGSAM>(KEY_WOW64_64KEY), static_cast<REGSAM>(KEY_WOW64_32KEY)}) {
    if (class_keys::Exists(class_key + L"\\InprocServer32", view) ||
        class_keys::Exists(class_key + L"\\LocalServer32", view)) {
      return true;
    }
  }
  return false;
}

bool ProgIdIsOurs() {
  std::wstring clsid;
  return class_keys::ReadString(std::wstring(kBrenvickSimProgId) + L"\\CLSID", nullptr, &clsid) &&
         class_keys::NamesGuid(clsid, CLSID_BrenvickSimServer);
}

HRESULT Unregister() {
  const std::wstring class_key = ClassKey();
  bool removed = class_keys::DeleteTree(class_key + L"\\LocalServer32");
  if (!class_keys::Exists(class_key + L"\\InprocServer32")) removed = class_keys::DeleteTree(class_key) && removed;
  if (ProgIdIsOurs() && !ClassServedInAnyView()) removed = class_keys::DeleteTree(kBrenvickSimProgId) && removed;
  return removed ? S_OK : SELFREG_E_CLASS;
}

HRESULT Register() {
  std::wstring path;
  if (!class_keys::ModulePath(nullptr, &path)) return SELFREG_E_CLASS;
  const std::wstring progid = kBrenvickSimProgId;
  const std::wstring class_key = ClassKey();
  std::wstring existing;
  if (class_keys::Exists(progid + L"\\CLSID") && !ProgIdIsOurs()) return SELFREG_E_CLASS;
  if (class_keys::ReadString(class_key + L"\\ProgID", nullptr, &existing) && existing != progid) {
    return SELFREG_E_CLASS;
  }
  const std::wstring category = class_keys::GuidText(CATID_OPCDAServer20);
  const bool written =
      class_keys::SetString(progid, nullptr, kDescription) &&
      class_keys::SetString(progid + L"\\CLSID", nullptr, class_keys::GuidText(CLSID_BrenvickSimServer)) &&
      class_keys::SetString(class_key, nullptr, kDescription) &&
      class_keys::SetString(class_key + L"\\ProgID", nullptr, progid) &&
      class_keys::SetString(class_key + L"\\LocalServer32", nullptr, L"\"" + path + L"\"") &&
      class_keys::SetString(class_key + L"\\Implemented Categories\\" + category, nullptr, L"");
  if (written) return S_OK;
  // Half a registration is worse than none.
  Unregister();
  return SELFREG_E_CLASS;
}

}  // namespace

HRESULT RegisterLocalServer() {
  try {
    return Register();
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterLocalServer() {
  try {
    return Unregister();
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace simserver
