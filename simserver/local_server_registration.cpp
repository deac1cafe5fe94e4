// /RegServer and /UnregServer of simserver.exe. Keys that name another class
// or ProgID are never replaced; only our own are removed. simserver.dll
// shares the class and the ProgID (its InprocServer32 beside our
// LocalServer32), so each leaves what the other still needs.
#include <olectl.h>

#include <string>

#include "class_keys.h"
#include "local_server.h"
#include "opcda.h"
#include "simserver_clsid.h"

namespace simserver {
namespace {

HRESULT Unregister() {
  return class_keys::RemoveServer(CLSID_BrenvickSimServer, kBrenvickSimProgId, L"LocalServer32") ? S_OK
                                                                                                  : SELFREG_E_CLASS;
}

HRESULT Register() {
  std::wstring path;
  if (!class_keys::ModulePath(nullptr, &path)) return SELFREG_E_CLASS;
  if (class_keys::ClaimedByOther(CLSID_BrenvickSimServer, kBrenvickSimProgId)) return SELFREG_E_CLASS;
  const std::wstring class_key = L"CLSID\\" + class_keys::GuidText(CLSID_BrenvickSimServer);
  const std::wstring category = class_keys::GuidText(CATID_OPCDAServer20);
  const bool written =
      class_keys::WriteClass(CLSID_BrenvickSimServer, kBrenvickSimProgId, kBrenvickSimDescription) &&
      class_keys::SetString(class_key + L"\\LocalServer32", nullptr, L"\"" + path + L"\"") &&
      class_keys::SetString(class_key + L"\\Implemented Categories\\" + category, nullptr, L"");
  if (written) return S_OK;
  // Half a registration is worse than none.
  Unregister();
  return SELFREG_E_CLASS;
}

}  // namespace

HRESULT RegisterLocalServer() { return class_keys::Guarded(Register); }

HRESULT UnregisterLocalServer() { return class_keys::Guarded(Unregister); }

}  // namespace simserver
