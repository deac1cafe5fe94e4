// DllRegisterServer / DllUnregisterServer of the proxy/stub. A machine with
// an OPC runtime already has proxies for these interfaces that other clients
// rely on, and an interface key may carry more than a proxy (a type library,
// another tool's values). Only a key we write whole is ours: an interface key
// that exists in any other form is left as it is, everything below it too,
// and unregistering removes only interface keys holding just what we write.
#include <windows.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "class_keys.h"
#include "opcproxy_clsid.h"

extern "C" const CLSID CLSID_BrenvickOpcProxy = {
    0xD0CD6F78, 0x410B, 0x4371, {0xB6, 0x19, 0x43, 0xEF, 0x6A, 0x33, 0xB1, 0x57}};

namespace {

using class_keys::KeyContent;
using class_keys::Text;

HMODULE g_module = nullptr;

std::wstring ClassKey() { return L"CLSID\\" + class_keys::GuidText(CLSID_BrenvickOpcProxy); }
std::wstring InterfaceKey(const ProxiedInterface &entry) {
  return L"Interface\\" + class_keys::GuidText(*entry.iid);
}

// The whole of what a registration writes for the class and an interface.
KeyContent ClassContent(const std::wstring &path) {
  return {L"",
          {Text(L"", L"Brenvick OPC DA proxy/stub")},
          {{L"InprocServer32", {Text(L"", path), Text(L"ThreadingModel", L"Both")}, {}}}};
}
KeyContent InterfaceContent(const ProxiedInterface &entry) {
  return {L"",
          {Text(L"", entry.name)},
          {{L"NumMethods", {Text(L"", std::to_wstring(entry.methods))}, {}},
           {L"ProxyStubClsid32", {Text(L"", class_keys::GuidText(CLSID_BrenvickOpcProxy))}, {}}}};
}

// Whether the interface's key holds exactly what we write (an earlier
// registration of ours); false when it is absent.
bool HoldsOurs(const ProxiedInterface &entry) {
  KeyContent current;
  return class_keys::ReadContent(InterfaceKey(entry), &current) &&
         class_keys::SameContent(current, InterfaceContent(entry));
}

HRESULT Unregister() {
  bool removed = true;
  for (const ProxiedInterface &entry : kProxiedInterfaces) {
    if (HoldsOurs(entry)) removed = class_keys::DeleteTree(InterfaceKey(entry)) && removed;
  }
  // The class is ours whatever path it names; what others put beside our
  // values stays.
  removed = class_keys::RemoveContent(ClassKey(), ClassContent(L"")) && removed;
  return removed ? S_OK : SELFREG_E_CLASS;
}

HRESULT Register() {
  std::wstring path;
  if (!class_keys::ModulePath(g_module, &path)) return SELFREG_E_CLASS;
  std::vector<std::wstring> created;
  bool written = class_keys::WriteContent(ClassKey(), ClassContent(path), &created);
  for (const ProxiedInterface &entry : kProxiedInterfaces) {
    if (!written) break;
    if (class_keys::Exists(InterfaceKey(entry)) && !HoldsOurs(entry)) continue;
    written = class_keys::WriteContent(InterfaceKey(entry), InterfaceContent(entry), &created);
  }
  if (written) return S_OK;
  // Half a registration is worse than none; what was there before stays.
  for (auto key = created.rbegin(); key != created.rend(); ++key) class_keys::DeleteTree(*key);
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
