// DllRegisterServer / DllUnregisterServer of the proxy/stub. A machine with
// an OPC runtime already has proxies for these interfaces that other clients
// rely on: an interface whose ProxyStubClsid32 names another class is left
// as it is, and unregistering removes only what names this DLL's class.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "class_keys.h"
#include "opcproxy_clsid.h"

extern "C" const CLSID CLSID_BrenvickOpcProxy = {
    0xD0CD6F78, 0x410B, 0x4371, {0xB6, 0x19, 0x43, 0xEF, 0x6A, 0x33, 0xB1, 0x57}};

namespace {

HMODULE g_module = nullptr;

std::wstring ClassKey() { return L"CLSID\\" + class_keys::GuidText(CLSID_BrenvickOpcProxy); }
std::wstring InterfaceKey(const ProxiedInterface &entry) {
  return L"Interface\\" + class_keys::GuidText(*entry.iid);
}

// Whether the interface's proxy is another class than ours.
bool ServedByOthers(const ProxiedInterface &entry) {
  std::wstring current;
  return class_keys::ReadString(InterfaceKey(entry) + L"\\ProxyStubClsid32", nullptr, &current) &&
         !class_keys::NamesGuid(current, CLSID_BrenvickOpcProxy);
}

HRESULT Unregister() {
  bool removed = true;
  for (const ProxiedInterface &entry : kProxiedInterfaces) {
    const std::wstring key = InterfaceKey(entry);
    std::wstring current;
    if (!class_keys::ReadString(key + L"\\ProxyStubClsid32", nullptr, &current) ||
        !class_keys::NamesGuid(current, CLSID_BrenvickOpcProxy)) {
      continue;
    }
    // The interface's key itself may carry more than ours (a type library).
    removed = class_keys::DeleteTree(key + L"\\ProxyStubClsid32") && removed;
    removed = class_keys::DeleteTree(key + L"\\NumMethods") && removed;
    removed = class_keys::DeleteIfEmpty(key) && removed;
  }
  removed = class_keys::DeleteTree(ClassKey()) && removed;
  return removed ? S_OK : SELFREG_E_CLASS;
}

HRESULT Register() {
  std::wstring path;
  if (!class_keys::ModulePath(g_module, &path)) return SELFREG_E_CLASS;
  const std::wstring clsid = class_keys::GuidText(CLSID_BrenvickOpcProxy);
  const std::wstring class_key = ClassKey();
  bool written = class_keys::SetString(class_key, nullptr, L"Brenvick OPC DA proxy/stub") &&
                 class_keys::SetString(class_key + L"\\InprocServer32", nullptr, path) &&
                 class_keys::SetString(class_key + L"\\InprocServer32", L"ThreadingModel", L"Both");
  for (const ProxiedInterface &entry : kProxiedInterfaces) {
    if (!written) break;
    if (ServedByOthers(entry)) continue;
    const std::wstring key = InterfaceKey(entry);
    written = class_keys::SetString(key, nullptr, entry.name) &&
              class_keys::SetString(key + L"\\NumMethods", nullptr, std::to_wstring(entry.methods)) &&
              class_keys::SetString(key + L"\\ProxyStubClsid32", nullptr, clsid);
  }
  if (written) return S_OK;
  // Half a registration is worse than none.
  Unregister();
  return SELFREG_E_CLASS;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllRegisterServer() { return class_keys::Guarded(Register); }

STDAPI DllUnregisterServer() { return class_keys::Guarded(Unregister); }
